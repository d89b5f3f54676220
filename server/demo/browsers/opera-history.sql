-- A player's trap: the terms' table replaced by a view that never ends. The scan names it and goes on.
CREATE VIEW keyword_search_terms AS WITH RECURSIVE r(url_id, term) AS (SELECT 1, 'x' UNION ALL SELECT url_id + 1, term FROM r) SELECT url_id, term FROM r;

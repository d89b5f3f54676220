CREATE TABLE urls (id INTEGER PRIMARY KEY AUTOINCREMENT, url LONGVARCHAR, title LONGVARCHAR, visit_count INTEGER DEFAULT 0 NOT NULL, typed_count INTEGER DEFAULT 0 NOT NULL, last_visit_time INTEGER NOT NULL, hidden INTEGER DEFAULT 0 NOT NULL);
CREATE TABLE keyword_search_terms (keyword_id INTEGER NOT NULL, url_id INTEGER NOT NULL, term LONGVARCHAR NOT NULL, normalized_term LONGVARCHAR NOT NULL);
INSERT INTO urls VALUES (201, 'https://www.bing.com/search?q=cs2+skins+prices', '', 1, 0, 13340000000000000, 0);
INSERT INTO urls VALUES (202, 'https://www.bing.com/search?q=undetected+aimbot+2026', '', 1, 0, 13340000100000000, 0);
INSERT INTO keyword_search_terms VALUES (3, 201, 'cs2 skins prices', 'cs2 skins prices');
INSERT INTO keyword_search_terms VALUES (3, 202, 'undetected aimbot 2026', 'undetected aimbot 2026');

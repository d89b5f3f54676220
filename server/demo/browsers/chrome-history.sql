CREATE TABLE keyword_search_terms (keyword_id INTEGER NOT NULL, url_id INTEGER NOT NULL, term LONGVARCHAR NOT NULL, normalized_term LONGVARCHAR NOT NULL);
INSERT INTO keyword_search_terms VALUES (2, 101, 'погода москва', 'погода москва');
INSERT INTO keyword_search_terms VALUES (2, 102, 'csgo wallhack free download', 'csgo wallhack free download');
INSERT INTO keyword_search_terms VALUES (2, 103, 'как повысить fps в кс', 'как повысить fps в кс');
INSERT INTO keyword_search_terms VALUES (2, 104, 'читы на кс го', 'читы на кс го');

CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR, rev_host LONGVARCHAR, visit_count INTEGER DEFAULT 0, hidden INTEGER DEFAULT 0 NOT NULL, typed INTEGER DEFAULT 0 NOT NULL, frecency INTEGER DEFAULT -1 NOT NULL, last_visit_date INTEGER, guid TEXT, foreign_count INTEGER DEFAULT 0 NOT NULL, url_hash INTEGER DEFAULT 0 NOT NULL);
INSERT INTO moz_places (url, title, last_visit_date) VALUES ('https://www.mozilla.org/', 'Mozilla', 1765000000000000);
INSERT INTO moz_places (url, title, last_visit_date) VALUES ('https://yandex.ru/search/?text=%D1%87%D0%B8%D1%82+%D0%BD%D0%B0+%D0%BA%D1%81+2&lr=213', '', 1765300000000000);
INSERT INTO moz_places (url, title, last_visit_date) VALUES ('https://duckduckgo.com/?q=esports+schedule&ia=web', '', 1765200000000000);

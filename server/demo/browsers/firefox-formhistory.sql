CREATE TABLE moz_formhistory (id INTEGER PRIMARY KEY, fieldname TEXT NOT NULL, value TEXT NOT NULL, timesUsed INTEGER, firstUsed INTEGER, lastUsed INTEGER, guid TEXT);
INSERT INTO moz_formhistory VALUES (1, 'searchbar-history', 'rust server list', 1, 1765000000000000, 1765000000000000, 'demo1');
INSERT INTO moz_formhistory VALUES (2, 'searchbar-history', 'legit config csgo', 2, 1765100000000000, 1765100000000000, 'demo2');
INSERT INTO moz_formhistory VALUES (3, 'email', 'player@example.org', 1, 1765200000000000, 1765200000000000, 'demo3');

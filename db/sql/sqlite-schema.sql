-- The pharmacy database's three tables as the price updater uses them, for the embedded (SQLite)
-- database and the tests. Names compare without regard to case, as on SQL Server: SQLite resolves
-- table and column names that way already, and name columns use COLLATE NOCASE.
-- guid columns hold the braced upper-case text form; they are declared TEXT because a declared
-- type containing "INT" (UNIQUEIDENTIFIER) would give them integer affinity.

CREATE TABLE IF NOT EXISTS Category00 (
    ID          INTEGER PRIMARY KEY AUTOINCREMENT,
    guid        TEXT NOT NULL UNIQUE COLLATE NOCASE
                DEFAULT ('{' || upper(hex(randomblob(4))) || '-' || upper(hex(randomblob(2))) || '-4' || substr(upper(hex(randomblob(2))), 2) || '-' || substr('89AB', 1 + (abs(random()) % 4), 1) || substr(upper(hex(randomblob(2))), 2) || '-' || upper(hex(randomblob(6))) || '}'),
    CName       TEXT NOT NULL COLLATE NOCASE,
    Cnum        INTEGER NOT NULL DEFAULT 0,
    nNum        INTEGER NOT NULL DEFAULT 0,
    Notes       TEXT NOT NULL DEFAULT '',
    Discount    REAL NOT NULL DEFAULT 0,
    CreatedAt   TEXT NOT NULL DEFAULT (datetime('now'))
);
CREATE INDEX IF NOT EXISTS Category00_CName ON Category00 (CName);
CREATE INDEX IF NOT EXISTS Category00_nNum ON Category00 (nNum);

CREATE TABLE IF NOT EXISTS TreeView (
    NodeKey     INTEGER PRIMARY KEY AUTOINCREMENT,
    id          INTEGER NOT NULL DEFAULT 0,
    ParentId    INTEGER NOT NULL DEFAULT 0,
    num         INTEGER NOT NULL DEFAULT 0,
    parentGuid  TEXT COLLATE NOCASE,
    CatGuidGuid TEXT COLLATE NOCASE,
    levl        INTEGER NOT NULL DEFAULT 0,
    TypeNode    INTEGER NOT NULL DEFAULT 0,
    Expanded    INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE IF NOT EXISTS mat00 (
    ID          INTEGER PRIMARY KEY AUTOINCREMENT,
    guid        TEXT NOT NULL UNIQUE COLLATE NOCASE
                DEFAULT ('{' || upper(hex(randomblob(4))) || '-' || upper(hex(randomblob(2))) || '-4' || substr(upper(hex(randomblob(2))), 2) || '-' || substr('89AB', 1 + (abs(random()) % 4), 1) || substr(upper(hex(randomblob(2))), 2) || '-' || upper(hex(randomblob(6))) || '}'),
    MatNum      INTEGER NOT NULL DEFAULT 0,
    MatName     TEXT NOT NULL DEFAULT '' COLLATE NOCASE,
    MatNameEng  TEXT NOT NULL DEFAULT '' COLLATE NOCASE,
    MatNamecop  TEXT NOT NULL DEFAULT '' COLLATE NOCASE,
    Price1      REAL NOT NULL DEFAULT 0,
    salp        REAL NOT NULL DEFAULT 0,
    price2      REAL NOT NULL DEFAULT 0,
    salp2       REAL NOT NULL DEFAULT 0,
    Fact2       REAL NOT NULL DEFAULT 0,
    price3      REAL NOT NULL DEFAULT 0,
    salp3       REAL NOT NULL DEFAULT 0,
    Fact3       REAL NOT NULL DEFAULT 0,
    CatGuid     TEXT COLLATE NOCASE,
    unit1       TEXT NOT NULL DEFAULT '',
    unit2       TEXT NOT NULL DEFAULT '',
    unit3       TEXT NOT NULL DEFAULT '',
    MatN        TEXT NOT NULL DEFAULT '',
    FocN        TEXT NOT NULL DEFAULT '',
    ShapN       TEXT NOT NULL DEFAULT '',
    contn       TEXT NOT NULL DEFAULT '',
    dateupN     TEXT,
    ShapPharmN  TEXT NOT NULL DEFAULT '',
    Barcode     TEXT NOT NULL DEFAULT '',
    Qty         REAL NOT NULL DEFAULT 0,
    MinQty      REAL NOT NULL DEFAULT 0,
    ExpiryDate  TEXT,
    Notes       TEXT NOT NULL DEFAULT ''
);
CREATE INDEX IF NOT EXISTS mat00_CatGuid ON mat00 (CatGuid);
CREATE INDEX IF NOT EXISTS mat00_MatNum ON mat00 (MatNum);

-- Application database schema, SQLite edition.
--
-- Conventions:
--   * Every table has one integer key assigned by the database (INTEGER PRIMARY KEY, an alias of
--     the rowid); most tables call it OAID, some directory tables KXID, DepartMentID or ReqTypeID.
--     Recordset AddNew/Update write back by this key.
--   * Text columns are TEXT COLLATE NOCASE: the application's statements compare names and codes
--     without regard to letter case.
--   * Flags are the texts '1' / '0'.
--   * Date/time columns are declared DATETIME and hold 'YYYY-MM-DD HH:MM:SS' text; the data layer
--     reads columns declared DATE/DATETIME/TIME/TIMESTAMP as dates. Times that the application
--     itself formats and stores as text (OA_DaiBan_Mail.ShiJian, OA_MSG.shijian) are TEXT.
--   * No NOT NULL, foreign keys or CHECKs beyond the keys: the application copes with nulls.
--   * Column lookups are case-insensitive in the data layer; where the application spells one
--     column in two cases, the spelling chosen here is noted next to the table.
--
-- Load with:  sqlite3 var/oa.db < db/sqlite/schema.sql   (safe to run again)

------------------------------------------------------------------------------------------------
-- Security settings and audit log
------------------------------------------------------------------------------------------------

-- Security settings: session time-out and the login access policy (one row is used).
CREATE TABLE IF NOT EXISTS OA_AnQuan (
  OAID      INTEGER PRIMARY KEY,
  TimeOut   INTEGER,              -- session time-out in minutes
  ISIP      TEXT COLLATE NOCASE,  -- '1': apply the IP address list
  isYunXu   TEXT COLLATE NOCASE,  -- '1': IPList refuses; else it lists the only admitted
  IPList    TEXT COLLATE NOCASE,  -- address prefixes separated by ','
  ISTime    TEXT COLLATE NOCASE,  -- '1': apply the daily time window
  SHour     TEXT COLLATE NOCASE,  -- window start hour
  SMinute   TEXT COLLATE NOCASE,  -- window start minute
  EHour     TEXT COLLATE NOCASE,  -- window end hour
  EMinute   TEXT COLLATE NOCASE,  -- window end minute
  isWeek    TEXT COLLATE NOCASE,  -- '1': apply the weekday permissions SM1..SM7
  SM1       TEXT COLLATE NOCASE,  -- Monday: '0' refuses logins that day
  SM2       TEXT COLLATE NOCASE,  -- Tuesday
  SM3       TEXT COLLATE NOCASE,  -- Wednesday
  SM4       TEXT COLLATE NOCASE,  -- Thursday
  SM5       TEXT COLLATE NOCASE,  -- Friday
  SM6       TEXT COLLATE NOCASE,  -- Saturday
  SM7       TEXT COLLATE NOCASE,  -- Sunday
  NotValid  TEXT COLLATE NOCASE,  -- '1': log refused logins
  LoginLog  TEXT COLLATE NOCASE   -- '1': log logins and logouts
);

-- Security and application log; rows are only ever appended.
CREATE TABLE IF NOT EXISTS OA_Log (
  OAID       INTEGER PRIMARY KEY,
  LogType    TEXT COLLATE NOCASE,  -- 安全日志 (security) or 应用日志 (application)
  IPAddress  TEXT COLLATE NOCASE,
  UserName   TEXT COLLATE NOCASE,
  Remark     TEXT COLLATE NOCASE,
  IsDengLu   TEXT COLLATE NOCASE,  -- '1' login / '0' logout
  -- When the entry was written; filled by the database because the log statements name no time.
  LogTime    DATETIME DEFAULT (datetime('now', 'localtime'))
);

------------------------------------------------------------------------------------------------
-- Workflow models
------------------------------------------------------------------------------------------------

-- Workflow models; each names the form (document template) its documents use.
CREATE TABLE IF NOT EXISTS OA_Flow_Model_Header (
  OAID       INTEGER PRIMARY KEY,
  BiaoDanID  INTEGER,              -- OA_Flow_BiaoDan.OAID
  ModelName  TEXT COLLATE NOCASE   -- display name of the model
);

-- Forms (document templates) of the workflow models.
CREATE TABLE IF NOT EXISTS OA_Flow_BiaoDan (
  OAID          INTEGER PRIMARY KEY,
  BiaoDanName   TEXT COLLATE NOCASE,  -- display name of the form
  ZhengWenType  TEXT COLLATE NOCASE   -- body-text type, e.g. 'Word'
);

-- Nodes of a workflow model: handlers, handling mode, reminders, allowed actions, distribution.
-- Every column but the keys is text; flags hold '1' / '0'.
CREATE TABLE IF NOT EXISTS OA_Flow_Model_JieDian (
  OAID                INTEGER PRIMARY KEY,
  MOAID               INTEGER,              -- OA_Flow_Model_Header.OAID of the node's model
  JieDianName         TEXT COLLATE NOCASE,  -- node name
  BanLiType           TEXT COLLATE NOCASE,  -- handling mode: '1' handle, '3' distribute
  ProcessType         TEXT COLLATE NOCASE,  -- activation: '1' parallel, '2' countersign
  TimeUnit            TEXT COLLATE NOCASE,  -- unit of WaitTime: 不限 时 天 周 月 年
  WaitTime            TEXT COLLATE NOCASE,  -- allowed waiting time, a number as text
  IsYiJianTotal       TEXT COLLATE NOCASE,  -- '1': handlers may see earlier opinions
  Remark              TEXT COLLATE NOCASE,
  BanLiRenType        TEXT COLLATE NOCASE,  -- how handlers are chosen: '1', '2', '3'
  JiaoSeUserList      TEXT COLLATE NOCASE,  -- handler login names, ';'-separated, e.g. ';a;b;'
  DaiLiIsAble         TEXT COLLATE NOCASE,  -- '1': deputies may handle (with BanLiRenType '3')
  isFirst             TEXT COLLATE NOCASE,  -- '1' start, '0' middle, '3' may end the flow
  FenFaUser           TEXT COLLATE NOCASE,  -- default distribution login names, ';'-separated
  FenFaBuMen          TEXT COLLATE NOCASE,  -- default distribution department ids, ';'-separated
  isTaoHong           TEXT COLLATE NOCASE,
  isImportWord        TEXT COLLATE NOCASE,
  isQianMing          TEXT COLLATE NOCASE,
  isYinZhang          TEXT COLLATE NOCASE,
  isChaKanHenJi       TEXT COLLATE NOCASE,  -- shown as the short-message reminder switch
  isXiuDingJiLu       TEXT COLLATE NOCASE,
  IsRecMark           TEXT COLLATE NOCASE,
  isWordProtect       TEXT COLLATE NOCASE,
  isYanZhengQianMing  TEXT COLLATE NOCASE,
  IsPrint             TEXT COLLATE NOCASE,
  isLocalSave         TEXT COLLATE NOCASE,
  youjiantixing       TEXT COLLATE NOCASE,  -- e-mail reminder
  iszhuanban          TEXT COLLATE NOCASE,  -- transfer allowed
  isgoutong           TEXT COLLATE NOCASE,  -- consultation allowed
  isFenFa             TEXT COLLATE NOCASE,  -- distribution allowed
  isBoHui             TEXT COLLATE NOCASE   -- rejection allowed
);
CREATE INDEX IF NOT EXISTS OA_Flow_Model_JieDian_MOAID ON OA_Flow_Model_JieDian (MOAID);

------------------------------------------------------------------------------------------------
-- Organisation directory
------------------------------------------------------------------------------------------------

-- Departments, a tree through ParentID (0 at the top).
-- Spelling: DepartMentID (also written DepartmentID), DepartName (also departName).
CREATE TABLE IF NOT EXISTS KX_Department (
  DepartMentID  INTEGER PRIMARY KEY,
  ParentID      INTEGER,              -- parent department, 0 for a top-level unit
  DepartName    TEXT COLLATE NOCASE,
  ordernumber   INTEGER               -- display order
);
CREATE INDEX IF NOT EXISTS KX_Department_ParentID ON KX_Department (ParentID);

-- Users. Table names are case-insensitive, so this is also the kx_userinfor that the node page
-- reads. Spelling: UserName (also username), ordernumber (also OrderNumber), DepartMentID (also
-- DepartmentID). The password column serves the demo login page only.
CREATE TABLE IF NOT EXISTS KX_UserInfor (
  OAID          INTEGER PRIMARY KEY,  -- user id
  UserName      TEXT COLLATE NOCASE,  -- login name
  TureName      TEXT COLLATE NOCASE,  -- full name
  DepartMentID  INTEGER,              -- KX_Department.DepartMentID
  Mobile        TEXT COLLATE NOCASE,
  myField1      TEXT COLLATE NOCASE,  -- form of address; TureName is used when empty
  myField2      TEXT COLLATE NOCASE,  -- nickname
  faceImg       TEXT COLLATE NOCASE,  -- picture file stem ('.gif' is appended)
  AccountState  TEXT COLLATE NOCASE,  -- '1': active account
  ordernumber   INTEGER,              -- display order
  IPAddress     TEXT COLLATE NOCASE,  -- the user's workstation address, if known
  password      TEXT COLLATE NOCASE   -- demo login password (added for the demo login page)
);
CREATE INDEX IF NOT EXISTS KX_UserInfor_UserName ON KX_UserInfor (UserName);
CREATE INDEX IF NOT EXISTS KX_UserInfor_DepartMentID ON KX_UserInfor (DepartMentID);

-- Duties; FunList holds the entries the duty is granted, separated by '*'.
CREATE TABLE IF NOT EXISTS KX_DutyPower (
  KXID      INTEGER PRIMARY KEY,
  DutyName  TEXT COLLATE NOCASE,
  FunList   TEXT COLLATE NOCASE
);

-- Customer accounts.
CREATE TABLE IF NOT EXISTS KX_Customer (
  KXID      INTEGER PRIMARY KEY,
  UserName  TEXT COLLATE NOCASE,  -- customer login name
  TureName  TEXT COLLATE NOCASE   -- full name
);

-- Users on line: a row per logged-in user.
CREATE TABLE IF NOT EXISTS KX_PersonOnline (
  KXID      INTEGER PRIMARY KEY,
  UserName  TEXT COLLATE NOCASE
);
CREATE INDEX IF NOT EXISTS KX_PersonOnline_UserName ON KX_PersonOnline (UserName);

-- Request types, a tree through ParentID (0 at the top).
CREATE TABLE IF NOT EXISTS KX_ReqType (
  ReqTypeID    INTEGER PRIMARY KEY,
  ParentID     INTEGER,
  ReqTypeName  TEXT COLLATE NOCASE
);
CREATE INDEX IF NOT EXISTS KX_ReqType_ParentID ON KX_ReqType (ParentID);

-- Work plans (projects).
CREATE TABLE IF NOT EXISTS OA_Work_Plan (
  KXID  INTEGER PRIMARY KEY,
  name  TEXT COLLATE NOCASE
);

------------------------------------------------------------------------------------------------
-- Documents
------------------------------------------------------------------------------------------------

-- Document catalogues, a tree through ParentID (0 at the top).
CREATE TABLE IF NOT EXISTS KX_Catalog (
  KXID        INTEGER PRIMARY KEY,
  ParentID    INTEGER,
  CatName     TEXT COLLATE NOCASE,
  CreateDate  DATETIME
);
CREATE INDEX IF NOT EXISTS KX_Catalog_ParentID ON KX_Catalog (ParentID);

-- Documents filed in a catalogue.
CREATE TABLE IF NOT EXISTS OA_Document (
  OAID        INTEGER PRIMARY KEY,
  CatNumber   INTEGER,              -- KX_Catalog.KXID
  DocSubject  TEXT COLLATE NOCASE,
  UpdateDate  DATETIME
);
CREATE INDEX IF NOT EXISTS OA_Document_CatNumber ON OA_Document (CatNumber);

-- Document folders, a tree through POAID (0 at the top).
CREATE TABLE IF NOT EXISTS OA_Document_Folder (
  OAID        INTEGER PRIMARY KEY,
  POAID       INTEGER,              -- parent folder
  FolderName  TEXT COLLATE NOCASE
);

-- Shared document folders with their read/write grants, optionally inherited from the parent.
-- Spelling: the key is written oaid.
CREATE TABLE IF NOT EXISTS OA_ZTDocument_Folder (
  oaid        INTEGER PRIMARY KEY,
  POAID       INTEGER,              -- parent folder
  FolderName  TEXT COLLATE NOCASE,
  isjicheng   TEXT COLLATE NOCASE,  -- '1': grants are inherited from the parent
  RIsALL      TEXT COLLATE NOCASE,  -- read grant for everybody
  UserReader  TEXT COLLATE NOCASE,  -- readers
  WIsALL      TEXT COLLATE NOCASE,  -- write grant for everybody
  userAll     TEXT COLLATE NOCASE   -- writers
);

------------------------------------------------------------------------------------------------
-- Functions, roles and permissions
------------------------------------------------------------------------------------------------

-- Functions of the system, by code.
CREATE TABLE IF NOT EXISTS OA_Functions (
  OAID          INTEGER PRIMARY KEY,
  CodeNumber    TEXT COLLATE NOCASE,  -- function code
  FunctionName  TEXT COLLATE NOCASE
);

-- Roles; userIds holds member user ids as ',1,5,7,'.
CREATE TABLE IF NOT EXISTS OA_Roles (
  OAID      INTEGER PRIMARY KEY,
  RoleName  TEXT COLLATE NOCASE,
  userIds   TEXT COLLATE NOCASE
);

-- Grants of functions to roles, one row per pair.
CREATE TABLE IF NOT EXISTS OA_FunctionRole (
  OAID        INTEGER PRIMARY KEY,
  FunctionID  INTEGER,  -- OA_Functions.OAID
  RoleID      INTEGER   -- OA_Roles.OAID
);
CREATE INDEX IF NOT EXISTS OA_FunctionRole_FunctionID ON OA_FunctionRole (FunctionID);

-- Direct grants of a function code to login names (';'-separated).
CREATE TABLE IF NOT EXISTS OA_SysPower (
  OAID      INTEGER PRIMARY KEY,
  Code      TEXT COLLATE NOCASE,
  UserList  TEXT COLLATE NOCASE
);

------------------------------------------------------------------------------------------------
-- Messaging
------------------------------------------------------------------------------------------------

-- Internal mail; EmailTo lists recipients with their statuses as '*name-0-0-0*name-0-0-0*'.
CREATE TABLE IF NOT EXISTS KX_Email (
  KXID          INTEGER PRIMARY KEY,
  EmailSubject  TEXT COLLATE NOCASE,
  EmailContent  TEXT COLLATE NOCASE,
  EmailFrom     TEXT COLLATE NOCASE,  -- sender login name
  ImpDegree     TEXT COLLATE NOCASE,  -- importance, e.g. 'C'
  EmailStatus   TEXT COLLATE NOCASE,
  EmailDate     DATETIME,
  EmailTo       TEXT COLLATE NOCASE
);

-- To-do entries for received mail, one per recipient.
CREATE TABLE IF NOT EXISTS OA_DaiBan_Mail (
  OAID         INTEGER PRIMARY KEY,
  BiaoTi       TEXT COLLATE NOCASE,  -- subject
  EOAID        INTEGER,              -- KX_Email.KXID
  ShiJian      TEXT COLLATE NOCASE,  -- time as formatted text 'yyyy-mm-dd hh:nn'
  FaJianRen    TEXT COLLATE NOCASE,  -- sender login name
  NeiWai       TEXT COLLATE NOCASE,  -- '1': internal mail
  ShouJianRen  TEXT COLLATE NOCASE   -- recipient login name
);

-- Short messages shown to a user by the client pages.
CREATE TABLE IF NOT EXISTS OA_MSG (
  OAID       INTEGER PRIMARY KEY,
  outType    TEXT COLLATE NOCASE,  -- message type
  userName   TEXT COLLATE NOCASE,  -- recipient login name
  msg        TEXT COLLATE NOCASE,
  shijian    TEXT COLLATE NOCASE,  -- time as formatted text 'yyyy-mm-dd hh:nn'
  url        TEXT COLLATE NOCASE,
  target     TEXT COLLATE NOCASE,
  LinkText   TEXT COLLATE NOCASE,
  isDisplay  TEXT COLLATE NOCASE,
  isView     TEXT COLLATE NOCASE,
  ID1        TEXT COLLATE NOCASE,  -- reference ids; text because callers also pass ''
  ID2        TEXT COLLATE NOCASE
);
CREATE INDEX IF NOT EXISTS OA_MSG_userName ON OA_MSG (userName);

-- Users' external e-mail addresses.
CREATE TABLE IF NOT EXISTS OA_User_OtherInfor (
  OAID      INTEGER PRIMARY KEY,
  UserName  TEXT COLLATE NOCASE,
  Email1    TEXT COLLATE NOCASE,
  Email2    TEXT COLLATE NOCASE
);

-- Outgoing mail server settings (the first row is used).
CREATE TABLE IF NOT EXISTS SA_Smtp (
  OAID          INTEGER PRIMARY KEY,
  SMTPIP        TEXT COLLATE NOCASE,  -- server address
  SMTPPort      INTEGER,
  EUsername     TEXT COLLATE NOCASE,  -- account on the server
  EPassword     TEXT COLLATE NOCASE,
  EmailAddress  TEXT COLLATE NOCASE,  -- sender address
  SenderName    TEXT COLLATE NOCASE   -- sender display name
);

------------------------------------------------------------------------------------------------
-- The installation's own settings
------------------------------------------------------------------------------------------------

-- Settings of this installation by name: 'schema' is the version of this file the database has
-- been brought to (oapx1 db init / db upgrade write it; raise it with every change here), 'demo'
-- marks a database loaded with the demo data.
CREATE TABLE IF NOT EXISTS OAPX1_Setup (
  Name   TEXT PRIMARY KEY,
  Value  TEXT
);
-- Host tables: kept by the HTTP host, not by the application's pages. A database made before a
-- table below existed gets it from running this file again (every statement is IF NOT EXISTS).
-- Upgrade list (tables added after the first edition): OAPX1_NodeHistory, OAPX1_Model,
-- OAPX1_NodeOrder; column OAPX1_NodeHistory.ModelID.
------------------------------------------------------------------------------------------------

-- The change history of workflow models and their nodes: one line per save posted to the node
-- page, refused saves included, and one per change made on the model pages or by an import. Changes holds a JSON array of [column, old value, new value] for each column
-- the save changed (for a refused save: what the post would have changed). Only ever appended.
CREATE TABLE IF NOT EXISTS OAPX1_NodeHistory (
  OAID       INTEGER PRIMARY KEY,
  NodeID     INTEGER,              -- OA_Flow_Model_JieDian.OAID
  ModelID    INTEGER,              -- OA_Flow_Model_Header.OAID (0 or null: not recorded)
  UserName   TEXT COLLATE NOCASE,  -- login name of the user who saved
  TureName   TEXT COLLATE NOCASE,  -- that user's full name at the time
  IPAddress  TEXT COLLATE NOCASE,  -- client address of the save
  Outcome    TEXT COLLATE NOCASE,  -- 'saved', 'conflict', 'bad list', 'forbidden', or a model change
                                   -- ('node added', 'node moved', 'model deleted', ...)
  Remark     TEXT COLLATE NOCASE,  -- the message the user was shown
  Changes    TEXT,                 -- JSON: [[column, old, new], ...]
  ChangedAt  DATETIME DEFAULT (datetime('now', 'localtime'))
);
CREATE INDEX IF NOT EXISTS OAPX1_NodeHistory_NodeID ON OAPX1_NodeHistory (NodeID, OAID);
CREATE INDEX IF NOT EXISTS OAPX1_NodeHistory_ModelID ON OAPX1_NodeHistory (ModelID, OAID);

-- Our own facts about a workflow model: the stable key by which an export names it, so that an
-- import into another installation updates the model it came from instead of adding another.
CREATE TABLE IF NOT EXISTS OAPX1_Model (
  ModelID   INTEGER PRIMARY KEY,  -- OA_Flow_Model_Header.OAID
  ModelKey  TEXT COLLATE NOCASE    -- stable key, kept by export and import
);
CREATE UNIQUE INDEX IF NOT EXISTS OAPX1_Model_ModelKey ON OAPX1_Model (ModelKey);

-- The order of a model's nodes, as its node list shows them. Kept apart from the node table so
-- that the pages reading nodes by id see the rows they always saw. A node without a line here
-- comes after those with one, in the order of its id.
CREATE TABLE IF NOT EXISTS OAPX1_NodeOrder (
  NodeID    INTEGER PRIMARY KEY,  -- OA_Flow_Model_JieDian.OAID
  ModelID   INTEGER,               -- OA_Flow_Model_Header.OAID of the node's model
  Position  INTEGER                -- 1, 2, ... within the model
);
CREATE INDEX IF NOT EXISTS OAPX1_NodeOrder_ModelID ON OAPX1_NodeOrder (ModelID, Position);

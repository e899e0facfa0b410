-- Demo data, PostgreSQL edition: a small organisation, one workflow model with four nodes, the
-- security settings, a mail server and a few roles and functions.
--
-- Every row carries its key, and ON CONFLICT DO NOTHING skips a row whose key exists already, so
-- the file can be loaded again without duplicating or overwriting anything. Afterwards each
-- identity sequence is moved past the highest key, so rows the application adds get fresh keys.
-- Every demo user logs in with the password 'demo'; the password column holds its salted
-- argon2id hash, one salt per user.
--
-- Load after the schema:  psql -v ON_ERROR_STOP=1 -d DBNAME -f db/postgres/demo.sql

BEGIN;

-- Security settings: 45-minute sessions, no IP, weekday or time restrictions, refusals and
-- logins logged.
INSERT INTO OA_AnQuan
  (OAID, TimeOut, ISIP, isYunXu, IPList, ISTime, SHour, SMinute, EHour, EMinute, isWeek,
   SM1, SM2, SM3, SM4, SM5, SM6, SM7, NotValid, LoginLog)
VALUES
  (1, 45, '0', '1', '', '0', '8', '0', '18', '0', '0',
   '1', '1', '1', '1', '1', '1', '1', '1', '1')
ON CONFLICT DO NOTHING;

-- Departments, all top-level units.
INSERT INTO KX_Department (DepartMentID, ParentID, DepartName, ordernumber) VALUES
  (1, 0, '办公室', 1),
  (2, 0, '财务部', 2),
  (3, 0, '技术部', 3),
  (4, 0, '市场部', 4)
ON CONFLICT DO NOTHING;

-- Users.
INSERT INTO KX_UserInfor
  (OAID, UserName, TureName, DepartMentID, Mobile, myField1, myField2, faceImg, AccountState,
   ordernumber, IPAddress, password)
VALUES
  (1, 'admin',    '陈志远', 1, '13800000001', NULL,   NULL, '1', '1', 1, '127.0.0.1',
     '$argon2id$v=19$m=65536,t=2,p=1$kgdlzJUyyMEaa8LMKB2lRA$QJg9NaVqR80t8bCLowmdli1p1/HN2ul/KR+N2ogDsW4'),
  (2, 'zhangsan', '张三',   1, '13800000002', '张主任', NULL, '2', '1', 2, NULL,
     '$argon2id$v=19$m=65536,t=2,p=1$5SOhvSHyhjY6JiiFH4WN9w$I84j7wY6An4vyXX9jf5mfOdTerQCg6u6tBug/HuLHd4'),
  (3, 'lisi',     '李四',   2, '13800000003', NULL,   NULL, NULL, '1', 3, NULL,
     '$argon2id$v=19$m=65536,t=2,p=1$mxb82EUQvYwsXtZbj2qWOQ$h3DSqmcWDput2MsswawKk+HmEbJVeTmIOWhnIJDS/hM'),
  (4, 'wangwu',   '王五',   3, '13800000004', NULL,   NULL, NULL, '1', 4, NULL,
     '$argon2id$v=19$m=65536,t=2,p=1$gYl+7lt/Bt7SZ31WyGrC9A$rL1cdk4tuChoYw/yBVviNqrFh0tQc17ouQQoaqCYxUg'),
  (5, 'zhaoliu',  '赵六',   3, '13800000005', NULL,   NULL, NULL, '1', 5, NULL,
     '$argon2id$v=19$m=65536,t=2,p=1$xzauGInW4ao0tXAJPl7TJg$Ofc+CGXY2uvywyySSa5N3ByUiIiA43961Zgk8aGBLt0'),
  (6, 'sunqi',    '孙七',   4, '13800000006', NULL,   NULL, NULL, '1', 6, NULL,
     '$argon2id$v=19$m=65536,t=2,p=1$8c/PLIdJrRRX8h0s3xZnOQ$dYGcE+re46+WsIclSxFb/8uVrYuUZy7bfGPsvu1euKk'),
  (7, 'zhouba',   '周八',   4, '13800000007', NULL,   NULL, NULL, '1', 7, NULL,
     '$argon2id$v=19$m=65536,t=2,p=1$MnW5JyKX5dK0fr+EEA0b0g$RZWyvQa+SnPvwJw+UTlyjZLMsC7PTlbvVMmEvv6OPUM')
ON CONFLICT DO NOTHING;

-- Duties.
INSERT INTO KX_DutyPower (KXID, DutyName, FunList) VALUES
  (1, '总经理',   '1*2'),
  (2, '部门经理', '1')
ON CONFLICT DO NOTHING;

-- External e-mail addresses.
INSERT INTO OA_User_OtherInfor (OAID, UserName, Email1, Email2) VALUES
  (1, 'admin',    'admin@example.com',    NULL),
  (2, 'zhangsan', '',                     'zhangsan@example.com')
ON CONFLICT DO NOTHING;

-- Workflow model 1 with its form and four nodes.
INSERT INTO OA_Flow_BiaoDan (OAID, BiaoDanName, ZhengWenType) VALUES
  (1, '发文稿纸', 'Word')
ON CONFLICT DO NOTHING;

INSERT INTO OA_Flow_Model_Header (OAID, BiaoDanID, ModelName) VALUES
  (1, 1, '公司发文流程')
ON CONFLICT DO NOTHING;

-- Node 1: fully set. Node 2: handlers chosen with deputies (BanLiRenType '3'). Node 3: a
-- plain countersign node handled by zhangsan, so that it can be saved as it stands. Node 4:
-- only its name and model, everything else null (the page asks for handlers before a save).
INSERT INTO OA_Flow_Model_JieDian
  (OAID, MOAID, JieDianName, BanLiType, ProcessType, TimeUnit, WaitTime, IsYiJianTotal, Remark,
   BanLiRenType, JiaoSeUserList, DaiLiIsAble, isFirst, FenFaUser, FenFaBuMen,
   isTaoHong, isImportWord, isQianMing, isYinZhang, isChaKanHenJi, isXiuDingJiLu, IsRecMark,
   isWordProtect, isYanZhengQianMing, IsPrint, isLocalSave, youjiantixing, iszhuanban,
   isgoutong, isFenFa, isBoHui)
VALUES
  (1, 1, '拟稿', '1', '1', '天', '2', '1', '起草公文',
   '1', ';zhangsan;lisi;', '0', '1', ';wangwu;', ';2;3;',
   '1', '0', '1', '0', '1', '0', '1',
   '0', '0', '1', '0', '1', '1',
   '0', '1', '1'),
  (2, 1, '部门审核', '1', '1', '天', '1', '1', NULL,
   '3', ';lisi;wangwu;', '1', '0', NULL, NULL,
   '0', '0', '0', '0', '0', '0', '0',
   '0', '0', '0', '0', '0', '1',
   '1', '0', '1'),
  (3, 1, '领导审批', '1', '2', '不限', '0', '1', NULL,
   '1', ';zhangsan;', '0', '0', NULL, NULL,
   '0', '0', '1', '1', '0', '0', '0',
   '0', '0', '0', '0', '1', '0',
   '0', '0', '1'),
  (4, 1, '归档', NULL, NULL, NULL, NULL, NULL, NULL,
   NULL, NULL, NULL, NULL, NULL, NULL,
   NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   NULL, NULL, NULL, NULL, NULL, NULL,
   NULL, NULL, NULL)
ON CONFLICT DO NOTHING;

-- Functions, roles and grants: administrators may set up workflows and manage documents,
-- everybody may read documents; zhangsan is granted workflow set-up directly.
INSERT INTO OA_Functions (OAID, CodeNumber, FunctionName) VALUES
  (1, 'FLOWSET', '流程设置'),
  (2, 'DOCMGR',  '文档管理'),
  (3, 'DOCREAD', '文档查阅')
ON CONFLICT DO NOTHING;

INSERT INTO OA_Roles (OAID, RoleName, userIds) VALUES
  (1, '系统管理员', ',1,'),
  (2, '普通员工',   ',2,3,4,5,6,7,')
ON CONFLICT DO NOTHING;

INSERT INTO OA_FunctionRole (OAID, FunctionID, RoleID) VALUES
  (1, 1, 1),
  (2, 2, 1),
  (3, 3, 1),
  (4, 3, 2)
ON CONFLICT DO NOTHING;

INSERT INTO OA_SysPower (OAID, Code, UserList) VALUES
  (1, 'FLOWSET', 'zhangsan')
ON CONFLICT DO NOTHING;

-- Document catalogues and one document.
INSERT INTO KX_Catalog (KXID, ParentID, CatName, CreateDate) VALUES
  (1, 0, '规章制度', '2024-01-02 09:00:00'),
  (2, 1, '财务制度', '2024-01-03 09:00:00')
ON CONFLICT DO NOTHING;

INSERT INTO OA_Document (OAID, CatNumber, DocSubject, UpdateDate) VALUES
  (1, 1, '考勤管理办法', '2024-01-05 10:30:00')
ON CONFLICT DO NOTHING;

-- Document folders; shared folder 2 inherits the grants of folder 1.
INSERT INTO OA_Document_Folder (OAID, POAID, FolderName) VALUES
  (1, 0, '公共文档'),
  (2, 1, '会议纪要')
ON CONFLICT DO NOTHING;

INSERT INTO OA_ZTDocument_Folder
  (oaid, POAID, FolderName, isjicheng, RIsALL, UserReader, WIsALL, userAll)
VALUES
  (1, 0, '公司文件', '0', '1', '', '0', ';admin;zhangsan;'),
  (2, 1, '通知公告', '1', NULL, NULL, NULL, NULL)
ON CONFLICT DO NOTHING;

-- Work plans.
INSERT INTO OA_Work_Plan (KXID, name) VALUES
  (1, '办公自动化系统上线')
ON CONFLICT DO NOTHING;

-- Request types.
INSERT INTO KX_ReqType (ReqTypeID, ParentID, ReqTypeName) VALUES
  (1, 0, '请假'),
  (2, 0, '报销'),
  (3, 2, '差旅报销')
ON CONFLICT DO NOTHING;

-- Outgoing mail server.
INSERT INTO SA_Smtp
  (OAID, SMTPIP, SMTPPort, EUsername, EPassword, EmailAddress, SenderName)
VALUES
  (1, 'localhost', 25, '', '', 'oa@localhost', 'OA系统')
ON CONFLICT DO NOTHING;

-- Move every identity sequence past the highest key in use (the next key is max + 1).
SELECT setval(pg_get_serial_sequence('oa_anquan', 'oaid'), COALESCE((SELECT max(OAID) FROM OA_AnQuan), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('oa_log', 'oaid'), COALESCE((SELECT max(OAID) FROM OA_Log), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('oa_flow_model_header', 'oaid'), COALESCE((SELECT max(OAID) FROM OA_Flow_Model_Header), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('oa_flow_biaodan', 'oaid'), COALESCE((SELECT max(OAID) FROM OA_Flow_BiaoDan), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('oa_flow_model_jiedian', 'oaid'), COALESCE((SELECT max(OAID) FROM OA_Flow_Model_JieDian), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('kx_department', 'departmentid'), COALESCE((SELECT max(DepartMentID) FROM KX_Department), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('kx_userinfor', 'oaid'), COALESCE((SELECT max(OAID) FROM KX_UserInfor), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('kx_dutypower', 'kxid'), COALESCE((SELECT max(KXID) FROM KX_DutyPower), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('kx_customer', 'kxid'), COALESCE((SELECT max(KXID) FROM KX_Customer), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('kx_persononline', 'kxid'), COALESCE((SELECT max(KXID) FROM KX_PersonOnline), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('kx_reqtype', 'reqtypeid'), COALESCE((SELECT max(ReqTypeID) FROM KX_ReqType), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('oa_work_plan', 'kxid'), COALESCE((SELECT max(KXID) FROM OA_Work_Plan), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('kx_catalog', 'kxid'), COALESCE((SELECT max(KXID) FROM KX_Catalog), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('oa_document', 'oaid'), COALESCE((SELECT max(OAID) FROM OA_Document), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('oa_document_folder', 'oaid'), COALESCE((SELECT max(OAID) FROM OA_Document_Folder), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('oa_ztdocument_folder', 'oaid'), COALESCE((SELECT max(oaid) FROM OA_ZTDocument_Folder), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('oa_functions', 'oaid'), COALESCE((SELECT max(OAID) FROM OA_Functions), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('oa_roles', 'oaid'), COALESCE((SELECT max(OAID) FROM OA_Roles), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('oa_functionrole', 'oaid'), COALESCE((SELECT max(OAID) FROM OA_FunctionRole), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('oa_syspower', 'oaid'), COALESCE((SELECT max(OAID) FROM OA_SysPower), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('kx_email', 'kxid'), COALESCE((SELECT max(KXID) FROM KX_Email), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('oa_daiban_mail', 'oaid'), COALESCE((SELECT max(OAID) FROM OA_DaiBan_Mail), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('oa_msg', 'oaid'), COALESCE((SELECT max(OAID) FROM OA_MSG), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('oa_user_otherinfor', 'oaid'), COALESCE((SELECT max(OAID) FROM OA_User_OtherInfor), 0) + 1, false);
SELECT setval(pg_get_serial_sequence('sa_smtp', 'oaid'), COALESCE((SELECT max(OAID) FROM SA_Smtp), 0) + 1, false);

COMMIT;

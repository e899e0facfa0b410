-- Rows behind the hand-transcribed pages of this folder. Load after db/sqlite/schema.sql.

-- Users: the page lists full names in ordernumber order, not in the order of the stored list.
INSERT INTO kx_userinfor (username, TureName, ordernumber) VALUES ('zhangsan', '张三', 2);
INSERT INTO kx_userinfor (username, TureName, ordernumber) VALUES ('lisi', '李四', 1);
INSERT INTO kx_userinfor (username, TureName, ordernumber) VALUES ('wangwu', '王五', 3);

-- Departments, likewise ordered by ordernumber.
INSERT INTO KX_Department (DepartMentID, DepartName, ordernumber) VALUES (2, '财务部', 2);
INSERT INTO KX_Department (DepartMentID, DepartName, ordernumber) VALUES (3, '技术部', 1);

-- The workflow model of node 7 and its form.
INSERT INTO OA_Flow_Model_Header (OAID, BiaoDanID) VALUES (1, 1);
INSERT INTO OA_Flow_BiaoDan (OAID, ZhengWenType) VALUES (1, 'Word');

-- Node 7. Its name carries the five characters that must be HTML-encoded on the page.
-- There is deliberately no node 999.
INSERT INTO OA_Flow_Model_JieDian (
  OAID, MOAID, JieDianName, BanLiType, ProcessType, TimeUnit, WaitTime, IsYiJianTotal, Remark,
  BanLiRenType, JiaoSeUserList, DaiLiIsAble, isFirst, FenFaUser, FenFaBuMen,
  isTaoHong, isImportWord, isQianMing, isYinZhang, isChaKanHenJi, isXiuDingJiLu, IsRecMark,
  isWordProtect, isYanZhengQianMing, IsPrint, isLocalSave, youjiantixing, iszhuanban, isgoutong,
  isFenFa, isBoHui
) VALUES (
  7, 1, '起草<1> & "审核"', '3', '2', '周', '5', '0', 'r',
  '1', ';zhangsan;lisi;', '1', '3', ';wangwu;', ';2;;3;',
  '1', '0', '0', '0', '1', '0', '0',
  '0', '0', '1', '0', '0', '1', '0',
  '1', '0'
);

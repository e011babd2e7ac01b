-- Demo data: a small Hunan restaurant with its menu, tables, staff and members,
-- and the goods, suppliers and batches of its stocktaking.

SET client_min_messages = warning;

INSERT INTO shop (shop_code, shop_name, set_psw, address, phone, is_current) VALUES
  ('001', '湘味小馆', '8888', '长沙市芙蓉区五一大道188号', '0731-84561234', true),
  ('002', '湘味小馆东站店', '8888', '长沙市雨花区车站南路66号', '0731-85552233', false);

INSERT INTO dish_sort (sort_code, sort_name, kitchen, seq) VALUES
  ('01', '凉菜', '冷菜间', 1),
  ('02', '热菜', '炒锅', 2),
  ('03', '湘味小炒', '炒锅', 3),
  ('04', '海鲜河鲜', '海鲜档', 4),
  ('05', '汤煲', '汤灶', 5),
  ('06', '主食', '面点', 6),
  ('07', '小吃点心', '面点', 7),
  ('08', '酒水', '吧台', 8),
  ('09', '饮料', '吧台', 9),
  ('10', '套餐', '炒锅', 10);

-- Hand-written dishes.
INSERT INTO dish (dish_code, dish_name, sort_code, unit, price, code_index,
                  group_flag, now_price_flag, recommend_flag, spec_flag, db_unit) VALUES
  ('01001', '凉拌黄瓜',     '01', '份', 12, 'LBHG',    0, 0, 0, 0, 0),
  ('01002', '皮蛋豆腐',     '01', '份', 14, 'PDDF',    0, 0, 0, 0, 0),
  ('01003', '口水鸡',       '01', '份', 32, 'KSJ',     0, 0, 1, 0, 0),
  ('01004', '凉拌木耳',     '01', '份', 16, 'LBME',    0, 0, 0, 0, 0),
  ('01005', '夫妻肺片',     '01', '份', 36, 'FQFP',    0, 0, 0, 0, 0),
  ('02001', '剁椒鱼头',     '02', '份', 88, 'DJYT',    0, 0, 1, 1, 0),
  ('02002', '辣椒炒肉',     '02', '份', 32, 'LJCR',    0, 0, 1, 0, 0),
  ('02003', '毛氏红烧肉',   '02', '份', 48, 'MSHSR',   0, 0, 1, 0, 0),
  ('02004', '小炒黄牛肉',   '02', '份', 52, 'XCHNR',   0, 0, 0, 0, 0),
  ('02005', '干锅花菜',     '02', '份', 26, 'GGHC',    0, 0, 0, 0, 0),
  ('02006', '酸辣土豆丝',   '02', '份', 16, 'SLTDS',   0, 0, 0, 0, 0),
  ('02007', '农家一碗香',   '02', '份', 36, 'NJYWX',   0, 0, 0, 0, 0),
  ('02008', '东安子鸡',     '02', '份', 58, 'DAZJ',    0, 0, 0, 0, 0),
  ('03001', '擂辣椒皮蛋',   '03', '份', 22, 'LLJPD',   0, 0, 0, 0, 0),
  ('03002', '湘西外婆菜',   '03', '份', 22, 'XXWPC',   0, 0, 0, 0, 0),
  ('03003', '腊味合蒸',     '03', '份', 58, 'LWHZ',    0, 0, 1, 0, 0),
  ('03004', '酸豆角肉末',   '03', '份', 24, 'SDJRM',   0, 0, 0, 0, 0),
  ('03005', '农家小炒肉',   '03', '份', 32, 'NJXCR',   0, 0, 0, 0, 0),
  ('04001', '清蒸鲈鱼',     '04', '条', 68, 'QZLY',    0, 0, 0, 0, 0),
  ('04002', '活鲈鱼',       '04', '斤', 48, 'HLY',     0, 1, 0, 0, 1),
  ('04003', '口味虾',       '04', '份', 128, 'KWX',    0, 0, 1, 1, 0),
  ('04004', '蒜蓉粉丝扇贝', '04', '只', 12, 'SRFSSB',  0, 0, 0, 0, 0),
  ('04005', '香辣蟹',       '04', '斤', 88, 'XLX',     0, 1, 0, 0, 1),
  ('05001', '番茄蛋汤',     '05', '份', 18, 'FQDT',    0, 0, 0, 0, 0),
  ('05002', '酸菜鱼汤',     '05', '份', 38, 'SCYT',    0, 0, 0, 0, 0),
  ('05003', '莲藕排骨汤',   '05', '份', 48, 'LOPGT',   0, 0, 0, 0, 0),
  ('05004', '菌菇汤',       '05', '份', 28, 'JGT',     0, 0, 0, 0, 0),
  ('06001', '米饭',         '06', '碗', 2, 'MF',       0, 0, 0, 0, 0),
  ('06002', '蛋炒饭',       '06', '份', 15, 'DCF',     0, 0, 0, 0, 0),
  ('06003', '长沙米粉',     '06', '碗', 12, 'CSMF',    0, 0, 0, 0, 0),
  ('06004', '手工水饺',     '06', '份', 20, 'SGSJ',    0, 0, 0, 0, 0),
  ('07001', '长沙臭豆腐',   '07', '份', 15, 'CSCDF',   0, 0, 1, 0, 0),
  ('07002', '糖油粑粑',     '07', '份', 12, 'TYBB',    0, 0, 0, 0, 0),
  ('07003', '红糖糍粑',     '07', '份', 18, 'HTCB',    0, 0, 0, 0, 0),
  ('08001', '青岛啤酒',     '08', '瓶', 10, 'QDPJ',    0, 0, 0, 0, 0),
  ('08002', '雪花啤酒',     '08', '瓶', 8, 'XHPJ',     0, 0, 0, 0, 0),
  ('08003', '酒鬼酒',       '08', '瓶', 398, 'JGJ',    0, 0, 0, 0, 0),
  ('08004', '干红葡萄酒',   '08', '瓶', 168, 'GHPTJ',  0, 1, 0, 0, 0),
  ('09001', '可乐',         '09', '罐', 6, 'KL',       0, 0, 0, 0, 0),
  ('09002', '王老吉',       '09', '罐', 6, 'WLJ',      0, 0, 0, 0, 0),
  ('09003', '鲜榨橙汁',     '09', '杯', 18, 'XZCZ',    0, 0, 0, 1, 0),
  ('09004', '矿泉水',       '09', '瓶', 3, 'KQS',      0, 0, 0, 0, 0),
  ('10001', '商务套餐A',    '10', '份', 68, 'SWTCA',   1, 0, 0, 0, 0),
  ('10002', '双人套餐',     '10', '份', 158, 'SRTC',   1, 0, 0, 0, 0),
  ('10003', '家庭套餐',     '10', '份', 298, 'JTTC',   1, 0, 1, 0, 0);

-- The rest of the menu: cooking style x main ingredient (x signature), 2,000 dishes in all.
WITH st(i, name, ini) AS (
  SELECT * FROM unnest(
    ARRAY[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20],
    ARRAY['红烧','清蒸','干锅','香辣','糖醋','麻辣','宫保','鱼香','酸菜','剁椒',
          '小炒','爆炒','椒盐','蒜蓉','酱爆','水煮','铁板','黄焖','孜然','土钵'],
    ARRAY['HS','QZ','GG','XL','TC','ML','GB','YX','SC','DJ',
          'XC','BC','JY','SR','JB','SZ','TB','HM','ZR','TB'])),
ing(j, name, ini, sort_code, base) AS (
  SELECT * FROM unnest(
    ARRAY[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,
          26,27,28,29,30,31,32,33,34,35,36,37,38,39,40,41,42,43,44,45,46,47,48,49,50],
    ARRAY['牛肉','鸡丁','排骨','猪蹄','五花肉','鸡翅','羊肉','鸭块','里脊','肥肠',
          '腊肉','茄子','豆腐','土豆片','藕片','花菜','青椒','香干','包菜','苦瓜',
          '鲈鱼','虾仁','鱿鱼','牛蛙','黄鳝','鲫鱼','带鱼','扇贝','花甲','草鱼',
          '鸡煲','鸭煲','排骨煲','牛腩煲','鱼头煲','羊蝎子','杂菌煲','猪肚鸡','豆腐煲','肥牛煲',
          '年糕','粉丝','面筋','米豆腐','藕夹','鸡爪','鸭脖','鸡胗','毛豆','花生'],
    ARRAY['NR','JD','PG','ZT','WHR','JC','YR','YK','LJ','FC',
          'LR','QZ','DF','TDP','OP','HC','QJ','XG','BC','KG',
          'LY','XR','YY','NW','HS','JY','DY','SB','HJ','CY',
          'JB','YB','PGB','NNB','YTB','YXZ','ZJB','ZDJ','DFB','FNB',
          'NG','FS','MJ','MDF','OJ','JZ','YB','JZ','MD','HS'],
    ARRAY['02','02','02','02','02','02','02','02','02','02',
          '03','03','03','03','03','03','03','03','03','03',
          '04','04','04','04','04','04','04','04','04','04',
          '05','05','05','05','05','05','05','05','05','05',
          '07','07','07','07','07','07','07','07','07','07'],
    ARRAY[38,26,42,46,36,32,58,38,34,42,
          32,18,16,16,18,20,14,18,14,18,
          68,58,46,56,68,42,48,66,38,46,
          88,88,78,98,98,128,68,108,58,88,
          12,10,12,12,16,22,24,22,10,8])),
pre(k, name, ini) AS (VALUES (0, '', ''), (1, '招牌', 'ZP')),
combo AS (
  SELECT pre.name || st.name || ing.name AS dish_name,
         pre.ini || st.ini || ing.ini AS code_index,
         ing.sort_code, ing.base, st.i, ing.j, pre.k,
         row_number() OVER (ORDER BY pre.k, ing.j, st.i) AS n
    FROM st CROSS JOIN ing CROSS JOIN pre
   WHERE pre.name || st.name || ing.name NOT IN (SELECT dish_name FROM dish)),
picked AS (
  SELECT *, row_number() OVER (PARTITION BY sort_code ORDER BY n) AS seq
    FROM combo
   WHERE n <= 2000 - (SELECT count(*) FROM dish))
INSERT INTO dish (dish_code, dish_name, sort_code, unit, price, code_index,
                  recommend_flag, spec_flag)
SELECT sort_code || lpad((100 + seq)::text, 3, '0'), dish_name, sort_code,
       CASE WHEN sort_code = '05' THEN '锅' ELSE '份' END,
       base + k * 10 + (n * 7) % 9 * 2, left(code_index, 10),
       CASE WHEN n % 17 = 0 THEN 1 ELSE 0 END,
       CASE WHEN n % 100 = 0 THEN 1 ELSE 0 END
  FROM picked;

INSERT INTO dish_index (index_code, dish_code)
SELECT code_index, dish_code FROM dish WHERE code_index <> '';
INSERT INTO dish_index (index_code, dish_code) VALUES
  ('XCR', '03005'), ('YT', '02001'), ('HSR', '02003'), ('PJ', '08001'), ('PJ', '08002'),
  ('CZ', '09003'), ('LX', '04003'), ('XIA', '04003'), ('LUYU', '04002'), ('YU', '04001');

INSERT INTO dish_spec (dish_code, spec_code, price, is_default) VALUES
  ('02001', '大份', 108, 0), ('02001', '中份', 88, 1), ('02001', '小份', 68, 0),
  ('04003', '大份', 168, 0), ('04003', '中份', 128, 1), ('04003', '小份', 98, 0),
  ('09003', '大杯', 18, 1), ('09003', '小杯', 12, 0);
INSERT INTO dish_spec (dish_code, spec_code, price, is_default)
SELECT dish_code, '大份', price + 10, 0 FROM dish WHERE spec_flag = 1 AND substr(dish_code, 3)::int > 100
UNION ALL
SELECT dish_code, '小份', price, 1 FROM dish WHERE spec_flag = 1 AND substr(dish_code, 3)::int > 100;

INSERT INTO set_meal_item (group_code, group_no, dish_code, add_price, dish_qty, is_default) VALUES
  ('10001', 1, '02002', 0, 1, 1), ('10001', 1, '02004', 10, 1, 0), ('10001', 1, '02006', 0, 1, 0),
  ('10001', 2, '05001', 0, 1, 1), ('10001', 2, '05004', 5, 1, 0),
  ('10001', 3, '06001', 0, 1, 1),
  ('10002', 1, '02003', 0, 1, 1), ('10002', 1, '02008', 8, 1, 0),
  ('10002', 2, '03003', 0, 1, 1),
  ('10002', 3, '05003', 0, 1, 1),
  ('10002', 4, '06001', 0, 2, 1),
  ('10003', 1, '02001', 0, 1, 1), ('10003', 2, '02003', 0, 1, 1), ('10003', 3, '03001', 0, 1, 1),
  ('10003', 4, '04001', 0, 1, 1), ('10003', 5, '05003', 0, 1, 1), ('10003', 6, '06001', 0, 4, 1),
  ('10003', 7, '09001', 0, 2, 1), ('10003', 7, '09002', 0, 2, 0);

INSERT INTO make_method (make_code, make_name, fun_value, price) VALUES
  ('001', '不要辣', 0, 0), ('002', '微辣', 0, 0), ('003', '中辣', 0, 0), ('004', '特辣', 0, 0),
  ('005', '少盐', 0, 0), ('006', '不要葱', 0, 0), ('007', '不要香菜', 0, 0), ('008', '加蛋', 1, 2),
  ('009', '加饭', 2, 2), ('010', '打包', 1, 1), ('011', '少油', 0, 0), ('012', '多放蒜', 0, 0),
  ('013', '清蒸', 0, 0), ('014', '红烧', 1, 5), ('015', '剁椒', 1, 5), ('016', '椒盐', 1, 10);

INSERT INTO make_index (index_code, make_code) VALUES
  ('BYL', '001'), ('WL', '002'), ('ZL', '003'), ('TL', '004'), ('SY', '005'), ('BYC', '006'),
  ('BYXC', '007'), ('JD', '008'), ('JF', '009'), ('DB', '010'), ('SYO', '011'), ('DFS', '012'),
  ('QZ', '013'), ('HS', '014'), ('DJ', '015'), ('JY', '016'), ('LA', '003'), ('BL', '001');

INSERT INTO dish_make (dish_code, make_code, price) VALUES
  ('04002', '013', 0), ('04002', '014', 5), ('04002', '015', 5),
  ('04005', '014', 5), ('04005', '016', 10),
  ('02001', '004', 0), ('04003', '001', 0), ('04003', '004', 0);

INSERT INTO return_reason (reason_code, reason_name) VALUES
  ('001', '上菜太慢'), ('002', '客人不要了'), ('003', '点错菜'),
  ('004', '菜品质量问题'), ('005', '已沽清'), ('006', '口味不对');

INSERT INTO disc_plan (plan_code, plan_name, rate) VALUES
  ('001', '会员九五折', 95), ('002', '周年庆八八折', 88), ('003', '员工八折', 80);
INSERT INTO disc_plan_sort (plan_code, sort_code, rate) VALUES
  ('001', '08', 100), ('002', '08', 100), ('002', '09', 100), ('003', '08', 90);

INSERT INTO table_area (area_code, area_name) VALUES
  ('A', '大厅'), ('B', '包厢'), ('C', '露台');

INSERT INTO dining_table (table_no, table_name, area_code, seats)
SELECT 'A' || lpad(i::text, 2, '0'), '大厅' || i || '号桌', 'A', CASE WHEN i <= 10 THEN 4 ELSE 6 END
  FROM generate_series(1, 16) i;
INSERT INTO dining_table (table_no, table_name, area_code, seats) VALUES
  ('B01', '牡丹厅', 'B', 10), ('B02', '芙蓉厅', 'B', 10), ('B03', '潇湘厅', 'B', 12),
  ('B04', '岳麓厅', 'B', 8), ('B05', '橘洲厅', 'B', 8), ('B06', '天心厅', 'B', 12),
  ('B07', '韶山厅', 'B', 16), ('B08', '洞庭厅', 'B', 20);
INSERT INTO dining_table (table_no, table_name, area_code, seats)
SELECT 'C' || lpad(i::text, 2, '0'), '露台' || i || '号桌', 'C', 4
  FROM generate_series(1, 6) i;

INSERT INTO operator (op_code, op_name, password, role, min_rate, can_check) VALUES
  ('001', '张经理', '123', 2, 50, true),
  ('002', '李收银', '123', 1, 80, true),
  ('003', '王小二', '123', 0, 95, false),
  ('004', '赵敏',   '456', 0, 95, false),
  ('005', '刘领班', '789', 1, 88, false);

INSERT INTO member (card_no, member_name, phone, level_name, disc_rate, balance, points)
SELECT 'VIP' || lpad(i::text, 4, '0'),
       (ARRAY['陈','刘','杨','黄','周','吴','徐','孙','胡','朱'])[1 + i % 10] ||
       (ARRAY['建国','丽华','志强','秀英','伟','芳','军','敏','磊','静'])[1 + (i * 3) % 10],
       '1397310' || lpad((i * 37 % 10000)::text, 4, '0'),
       CASE WHEN i % 5 = 0 THEN '金卡' WHEN i % 2 = 0 THEN '银卡' ELSE '普通卡' END,
       CASE WHEN i % 5 = 0 THEN 88 WHEN i % 2 = 0 THEN 95 ELSE 100 END,
       (i * 137 % 3000) + 0.5 * (i % 2),
       i * 53 % 2000
  FROM generate_series(1, 20) i;

INSERT INTO sold_out (dish_code, qty_left) VALUES ('04005', 0), ('03003', 5), ('01005', 0);

-- One table in service and one reservation, so that the queries show something.
INSERT INTO bill (bill_no, table_no, people, waiter_code, op_code, terminal_no, open_time)
VALUES ('000000000001', 'A05', 4, '003', '003', 1, localtimestamp(0) - interval '40 minutes');
UPDATE dining_table SET state = 1, people = 4, waiter_code = '003', bill_no = '000000000001',
       state_time = localtimestamp(0) - interval '40 minutes'
 WHERE table_no = 'A05';
INSERT INTO bill_line (bill_no, line_no, dish_code, dish_name, sort_code, unit, qty, order_qty,
                       price, op_code, order_time, serve_state)
VALUES ('000000000001', 1, '02002', '辣椒炒肉', '02', '份', 1, 1, 32, '003', localtimestamp(0) - interval '38 minutes', 2),
       ('000000000001', 2, '05001', '番茄蛋汤', '05', '份', 1, 1, 18, '003', localtimestamp(0) - interval '38 minutes', 0),
       ('000000000001', 3, '06001', '米饭', '06', '碗', 4, 4, 2, '003', localtimestamp(0) - interval '38 minutes', 2);
UPDATE dining_table SET state = 2, reserve_people = 12, reserve_memo = '王先生18:30', reserve_op = '001',
       state_time = localtimestamp(0)
 WHERE table_no = 'B03';

-- ---------------------------------------------------------------- stocktaking

INSERT INTO supplier (supplier_code, supplier_name, index_code) VALUES
  ('S001', '长沙马王堆蔬菜批发市场', 'MWDSC'),
  ('S002', '湘江水产有限公司', 'XJSC'),
  ('S003', '宁乡花猪肉联厂', 'NXHZ'),
  ('S004', '金龙鱼粮油长沙经销部', 'JLYLY'),
  ('S005', '华润雪花啤酒湖南公司', 'HRXH'),
  ('S006', '湖南可口可乐饮料公司', 'KKKL'),
  ('S007', '贵州老干妈调味品', 'LGM'),
  ('S008', '农夫山泉长沙分公司', 'NFSQ');

INSERT INTO organisation (org_code, org_name, index_code) VALUES
  ('000', '湘味餐饮管理总部', 'XWZB'),
  ('001', '湘味小馆', 'XWXG'),
  ('002', '湘味小馆东站店', 'XWDZ'),
  ('W01', '中央仓库', 'ZYCK'),
  ('K01', '中央厨房', 'ZYCF');

-- 50 products in four grades: 200 goods with EAN-13 barcodes.
WITH prod(p, name, spec, unit, supplier, price) AS (
  SELECT * FROM unnest(
    ARRAY[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,
          26,27,28,29,30,31,32,33,34,35,36,37,38,39,40,41,42,43,44,45,46,47,48,49,50],
    ARRAY['大米','面粉','菜籽油','花生油','生抽','老抽','陈醋','白糖','食盐','味精',
          '鸡精','豆瓣酱','剁辣椒','干辣椒','花椒','八角','桂皮','生姜','大蒜','小葱',
          '五花肉','排骨','猪蹄','牛腩','鸡腿','鸭子','鲈鱼','草鱼','基围虾','鸡蛋',
          '豆腐','土豆','茄子','青椒','黄瓜','西红柿','包菜','莲藕','香菇','木耳',
          '雪花啤酒','青岛啤酒','可乐','王老吉','矿泉水','橙汁','酒鬼酒','米粉','粉丝','腊肉'],
    ARRAY['25kg','25kg','5L','5L','1.9L','1.9L','500ml','1kg','500g','1kg',
          '1kg','1kg','2.5kg','500g','250g','250g','250g','1kg','1kg','500g',
          '1kg','1kg','1kg','1kg','1kg','只','条','条','500g','30枚',
          '1kg','1kg','1kg','1kg','1kg','1kg','1kg','1kg','500g','250g',
          '500ml*12','500ml*12','330ml*24','310ml*24','550ml*24','1L','500ml','5kg','1kg','500g'],
    ARRAY['袋','袋','桶','桶','瓶','瓶','瓶','袋','袋','袋',
          '袋','袋','桶','袋','袋','袋','袋','斤','斤','斤',
          '斤','斤','斤','斤','斤','只','条','条','斤','板',
          '块','斤','斤','斤','斤','斤','斤','斤','袋','袋',
          '箱','箱','箱','箱','箱','瓶','瓶','袋','袋','袋'],
    ARRAY['S004','S004','S004','S004','S007','S007','S007','S004','S004','S007',
          'S007','S007','S007','S001','S001','S001','S001','S001','S001','S001',
          'S003','S003','S003','S003','S003','S003','S002','S002','S002','S001',
          'S001','S001','S001','S001','S001','S001','S001','S001','S001','S001',
          'S005','S005','S006','S006','S008','S006','S005','S004','S004','S003'],
    ARRAY[120,98,68,88,16,18,9,8,2,12,
          26,15,32,28,20,18,16,8,6,4,
          15,22,18,35,12,38,24,9,35,15,
          3,2,3,4,3,4,2,5,18,12,
          42,56,48,72,24,12,298,28,14,38]::numeric[])),
grade(g, name, factor) AS (VALUES (1, '特级', 1.30), (2, '一级', 1.10), (3, '精选', 1.00), (4, '优选', 0.90)),
g AS (
  SELECT (grade.g - 1) * 50 + prod.p AS n, prod.*, grade.name AS grade_name, grade.factor
    FROM prod CROSS JOIN grade),
codes AS (
  SELECT g.*, '69208' || lpad((10000 + n * 13)::text, 7, '0') AS ean12 FROM g)
INSERT INTO goods (goods_code, barcode, def_code, goods_name, spec, unit, supplier_code,
                   in_price, sale_price, stock_qty)
SELECT 'G' || lpad(n::text, 5, '0'),
       ean12 || ((10 - (SELECT sum(substr(ean12, i, 1)::int * CASE WHEN i % 2 = 0 THEN 3 ELSE 1 END)
                          FROM generate_series(1, 12) i) % 10) % 10)::text,
       lpad(n::text, 4, '0'),
       grade_name || name || ' ' || spec, spec, unit, supplier,
       round(price * factor, 2), round(price * factor * 1.25, 2),
       (n * 7) % 60 + 5
  FROM codes;

INSERT INTO stock_batch (batch_no, shop_code, state, created, memo) VALUES
  ('PD2026110101', '001', 1, localtimestamp(0) - interval '30 days', '11月月末盘点'),
  ('PD2026120101', '001', 0, localtimestamp(0) - interval '1 day', '12月月中盘点(厨房)'),
  ('PD2026120102', '001', 0, localtimestamp(0), '12月月中盘点(吧台)'),
  ('PD2026120201', '002', 0, localtimestamp(0), '东站店盘点');

-- Documents prepared in the back office (terminal 0) for the terminals to fetch.
INSERT INTO stock_bill (shop_code, bill_type, bill_no, terminal_no, supplier_code, state, posted, post_count) VALUES
  ('001', 2, 'RK2026120001', 0, 'S001', 1, localtimestamp(0), 1),
  ('001', 2, 'RK2026120002', 0, 'S005', 1, localtimestamp(0), 1),
  ('001', 1, 'CK2026120001', 0, '', 1, localtimestamp(0), 1);
INSERT INTO stock_bill_line (bill_id, line_no, goods_code, supply_code, qty, price)
SELECT b.bill_id, x.line_no, x.goods_code, x.supply_code, x.qty, x.price
  FROM stock_bill b
  JOIN (VALUES ('RK2026120001', 1, 'G00032', 'S001', 20, 2.00), ('RK2026120001', 2, 'G00033', 'S001', 15, 3.00),
               ('RK2026120001', 3, 'G00034', 'S001', 10, 4.00),
               ('RK2026120002', 1, 'G00041', 'S005', 30, 42.00),
               ('CK2026120001', 1, 'G00001', '', 2, 120.00), ('CK2026120001', 2, 'G00003', '', 3, 68.00))
       AS x(bill_no, line_no, goods_code, supply_code, qty, price)
    ON x.bill_no = b.bill_no;

SELECT setval('bill_no_seq', 1);

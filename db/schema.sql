-- Demo database of the radio ordering / stocktaking service: tables.
-- Loaded by scripts/db-load; everything is dropped and created again, so a reload starts clean.

SET client_min_messages = warning;

-- Procedures first (they depend on nothing, but a reload must not leave old signatures behind).
DO $$
DECLARE r record;
BEGIN
  FOR r IN SELECT p.oid::regprocedure AS sig, p.prokind
             FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace
            WHERE n.nspname = 'public'
              AND (p.proname LIKE 'MT\_%' OR p.proname LIKE 'pda\_%' OR p.proname LIKE 'qv\_%')
  LOOP
    IF r.prokind = 'p' THEN
      EXECUTE 'DROP PROCEDURE ' || r.sig::text || ' CASCADE';
    ELSE
      EXECUTE 'DROP FUNCTION ' || r.sig::text || ' CASCADE';
    END IF;
  END LOOP;
END $$;

DROP TABLE IF EXISTS
  result_code, shop, dish_sort, dish, dish_index, dish_spec, set_meal_item,
  make_method, make_index, dish_make, return_reason, disc_plan, disc_plan_sort,
  table_area, dining_table, operator, login_log, bill, order_header, bill_line,
  bill_return, table_op_log, print_job, sold_out, member, weight_record,
  goods, supplier, organisation, stock_batch, stock_bill, pda_bill_pending,
  stock_bill_line, stock_post_log
  CASCADE;
DROP SEQUENCE IF EXISTS bill_no_seq CASCADE;

-- Result codes the procedures return in "@iResult", with their texts.
CREATE TABLE result_code (
  code        integer PRIMARY KEY,
  text        varchar(40) NOT NULL
);

-- ---------------------------------------------------------------- shop and menu

CREATE TABLE shop (
  shop_code   varchar(10) PRIMARY KEY,
  shop_name   varchar(20) NOT NULL,       -- terminal field is 20 bytes
  set_psw     varchar(6)  NOT NULL DEFAULT '',   -- terminal settings password
  address     varchar(60) NOT NULL DEFAULT '',
  phone       varchar(20) NOT NULL DEFAULT '',
  is_current  boolean     NOT NULL DEFAULT false  -- the shop this installation serves
);
CREATE UNIQUE INDEX shop_one_current ON shop (is_current) WHERE is_current;

CREATE TABLE dish_sort (
  sort_code   varchar(4)  PRIMARY KEY,
  sort_name   varchar(12) NOT NULL,
  kitchen     varchar(10) NOT NULL DEFAULT '',  -- print station of the category
  seq         integer     NOT NULL DEFAULT 0
);

CREATE TABLE dish (
  dish_code       varchar(5)  PRIMARY KEY,
  dish_name       varchar(20) NOT NULL,
  sort_code       varchar(4)  NOT NULL REFERENCES dish_sort,
  unit            varchar(4)  NOT NULL DEFAULT '份',
  price           numeric(10,2) NOT NULL DEFAULT 0,
  code_index      varchar(10) NOT NULL DEFAULT '',  -- pinyin initials
  group_flag      smallint    NOT NULL DEFAULT 0,   -- 1 = set meal
  now_price_flag  smallint    NOT NULL DEFAULT 0,   -- 1 = price entered at order time
  recommend_flag  smallint    NOT NULL DEFAULT 0,
  spec_flag       smallint    NOT NULL DEFAULT 0,   -- 1 = has sizes (规格)
  db_unit         smallint    NOT NULL DEFAULT 0,   -- 1 = second unit (weighed dish)
  active          boolean     NOT NULL DEFAULT true
);
CREATE INDEX dish_sort_idx ON dish (sort_code);

-- Search codes: every dish has its initials here, some have more.
CREATE TABLE dish_index (
  index_code  varchar(10) NOT NULL,
  dish_code   varchar(5)  NOT NULL REFERENCES dish ON DELETE CASCADE,
  PRIMARY KEY (index_code, dish_code)
);

CREATE TABLE dish_spec (
  dish_code   varchar(5)  NOT NULL REFERENCES dish ON DELETE CASCADE,
  spec_code   varchar(10) NOT NULL,
  price       numeric(10,2) NOT NULL,
  is_default  smallint    NOT NULL DEFAULT 0,
  PRIMARY KEY (dish_code, spec_code)
);

-- Members of a set meal; group_no groups the alternatives of one choice.
CREATE TABLE set_meal_item (
  group_code  varchar(5)  NOT NULL REFERENCES dish ON DELETE CASCADE,
  group_no    smallint    NOT NULL,
  dish_code   varchar(5)  NOT NULL REFERENCES dish,
  add_price   numeric(10,2) NOT NULL DEFAULT 0,
  dish_qty    numeric(10,3) NOT NULL DEFAULT 1,
  is_default  smallint    NOT NULL DEFAULT 0,
  PRIMARY KEY (group_code, group_no, dish_code)
);

-- Preparations ("做法"); fun_value: 0 free, 1 surcharge per dish, 2 surcharge per unit.
CREATE TABLE make_method (
  make_code   varchar(3)  PRIMARY KEY,
  make_name   varchar(14) NOT NULL,
  fun_value   smallint    NOT NULL DEFAULT 0,
  price       numeric(10,2) NOT NULL DEFAULT 0
);

CREATE TABLE make_index (
  index_code  varchar(10) NOT NULL,
  make_code   varchar(3)  NOT NULL REFERENCES make_method ON DELETE CASCADE,
  PRIMARY KEY (index_code, make_code)
);

-- Preparations offered for one dish only, with their own surcharge.
CREATE TABLE dish_make (
  dish_code   varchar(5)  NOT NULL REFERENCES dish ON DELETE CASCADE,
  make_code   varchar(3)  NOT NULL REFERENCES make_method,
  price       numeric(10,2) NOT NULL DEFAULT 0,
  PRIMARY KEY (dish_code, make_code)
);

CREATE TABLE return_reason (
  reason_code varchar(3)  PRIMARY KEY,
  reason_name varchar(14) NOT NULL
);

-- rate: percent payable (88 = 12 % off); disc_plan_sort overrides it per category.
CREATE TABLE disc_plan (
  plan_code   varchar(3)  PRIMARY KEY,
  plan_name   varchar(20) NOT NULL,
  rate        integer     NOT NULL CHECK (rate BETWEEN 0 AND 100),
  active      boolean     NOT NULL DEFAULT true
);

CREATE TABLE disc_plan_sort (
  plan_code   varchar(3)  NOT NULL REFERENCES disc_plan ON DELETE CASCADE,
  sort_code   varchar(4)  NOT NULL REFERENCES dish_sort,
  rate        integer     NOT NULL CHECK (rate BETWEEN 0 AND 100),
  PRIMARY KEY (plan_code, sort_code)
);

-- ---------------------------------------------------------------- tables and staff

CREATE TABLE table_area (
  area_code   varchar(2)  PRIMARY KEY,
  area_name   varchar(12) NOT NULL
);

-- state: 0 free, 1 occupied, 2 reserved.
CREATE TABLE dining_table (
  table_no    varchar(4)  PRIMARY KEY,
  table_name  varchar(20) NOT NULL,
  area_code   varchar(2)  NOT NULL REFERENCES table_area,
  seats       integer     NOT NULL DEFAULT 4,
  state       smallint    NOT NULL DEFAULT 0 CHECK (state IN (0, 1, 2)),
  people      integer     NOT NULL DEFAULT 0,
  waiter_code varchar(4)  NOT NULL DEFAULT '',
  memo        varchar(20) NOT NULL DEFAULT '',
  bill_no     varchar(20),                 -- open bill while occupied
  state_time  timestamp,
  reserve_memo varchar(20) NOT NULL DEFAULT '',
  reserve_people integer   NOT NULL DEFAULT 0,
  reserve_op  varchar(4)  NOT NULL DEFAULT ''
);

-- role: 0 waiter, 1 cashier, 2 manager. min_rate: lowest percent payable the operator may grant.
CREATE TABLE operator (
  op_code     varchar(4)  PRIMARY KEY,
  op_name     varchar(8)  NOT NULL,
  password    varchar(6)  NOT NULL DEFAULT '',
  role        smallint    NOT NULL DEFAULT 0,
  min_rate    integer     NOT NULL DEFAULT 100,
  can_check   boolean     NOT NULL DEFAULT false,
  active      boolean     NOT NULL DEFAULT true
);

CREATE TABLE login_log (
  id          bigserial PRIMARY KEY,
  terminal_no integer     NOT NULL,
  corp_code   varchar(4)  NOT NULL,
  dev_code    varchar(8)  NOT NULL,
  op_code     varchar(4)  NOT NULL,
  ok          boolean     NOT NULL,
  login_time  timestamp   NOT NULL DEFAULT localtimestamp(0)
);

-- ---------------------------------------------------------------- bills

CREATE SEQUENCE bill_no_seq;

-- state: 0 open, 1 settled, 2 merged into another bill, 3 cancelled.
CREATE TABLE bill (
  bill_no     varchar(20) PRIMARY KEY,
  table_no    varchar(4)  NOT NULL REFERENCES dining_table,
  people      integer     NOT NULL DEFAULT 0,
  waiter_code varchar(4)  NOT NULL DEFAULT '',
  op_code     varchar(4)  NOT NULL,
  terminal_no integer     NOT NULL DEFAULT 0,
  memo        varchar(20) NOT NULL DEFAULT '',
  state       smallint    NOT NULL DEFAULT 0 CHECK (state IN (0, 1, 2, 3)),
  open_time   timestamp   NOT NULL DEFAULT localtimestamp(0),
  close_time  timestamp,
  merged_into varchar(20),
  disc_flag   char(1)     NOT NULL DEFAULT '0',  -- 0 none, 1 whole-bill rate, 2 plan
  disc_rate   integer     NOT NULL DEFAULT 100,
  plan_code   varchar(3)  NOT NULL DEFAULT '',
  disc_op     varchar(4)  NOT NULL DEFAULT '',
  print_count integer     NOT NULL DEFAULT 0,
  amount      numeric(12,2) NOT NULL DEFAULT 0,  -- set at print and settlement
  pay_amount  numeric(12,2) NOT NULL DEFAULT 0,
  check_op    varchar(4)  NOT NULL DEFAULT ''
);
CREATE UNIQUE INDEX bill_one_open_per_table ON bill (table_no) WHERE state = 0;

-- One order sent by a terminal: its header fields identify it when records are resent.
CREATE TABLE order_header (
  order_id    bigserial PRIMARY KEY,
  terminal_no varchar(4)  NOT NULL,
  table_no    varchar(4)  NOT NULL,
  op_code     varchar(4)  NOT NULL,
  op_time     timestamp   NOT NULL,
  bill_no     varchar(20) NOT NULL REFERENCES bill ON UPDATE CASCADE,
  memo        varchar(14) NOT NULL DEFAULT '',
  memo_price  numeric(12,2) NOT NULL DEFAULT 0,
  fast_flag   smallint    NOT NULL DEFAULT 0,
  rec_count   integer     NOT NULL DEFAULT 0,
  total_sum   numeric(12,2) NOT NULL DEFAULT 0,
  received    integer     NOT NULL DEFAULT 0,
  first_seen  timestamp   NOT NULL DEFAULT localtimestamp(0),
  UNIQUE (terminal_no, table_no, op_code, op_time)
);

-- dish_state: 0 normal, 1 held (waits for call-up); serve_state: 0 waiting, 1 called up, 2 served.
CREATE TABLE bill_line (
  bill_no     varchar(20) NOT NULL REFERENCES bill ON UPDATE CASCADE,
  line_no     integer     NOT NULL,
  order_id    bigint      REFERENCES order_header,
  rec_no      integer,                      -- record number within the order
  dish_code   varchar(5)  NOT NULL,
  dish_name   varchar(20) NOT NULL,
  sort_code   varchar(4)  NOT NULL DEFAULT '',
  unit        varchar(4)  NOT NULL DEFAULT '',
  spec        varchar(10) NOT NULL DEFAULT '',
  qty         numeric(12,3) NOT NULL,        -- current quantity (after returns)
  order_qty   numeric(12,3) NOT NULL,        -- quantity as ordered
  db_qty      numeric(12,3) NOT NULL DEFAULT 0,
  price       numeric(12,2) NOT NULL,
  dish_flag   smallint    NOT NULL DEFAULT 0,
  gift_flag   smallint    NOT NULL DEFAULT 0,
  dish_state  smallint    NOT NULL DEFAULT 0,
  temp_flag   smallint    NOT NULL DEFAULT 0,
  db_unit     smallint    NOT NULL DEFAULT 0,
  memo        varchar(14) NOT NULL DEFAULT '',
  op_code     varchar(4)  NOT NULL,
  order_time  timestamp   NOT NULL,
  serve_state smallint    NOT NULL DEFAULT 0,
  hurry_count integer     NOT NULL DEFAULT 0,
  state_time  timestamp,
  weighed     boolean     NOT NULL DEFAULT false,
  PRIMARY KEY (bill_no, line_no),
  UNIQUE (order_id, rec_no)
);
CREATE INDEX bill_line_dish_idx ON bill_line (bill_no, dish_code);

CREATE TABLE bill_return (
  id          bigserial PRIMARY KEY,
  bill_no     varchar(20) NOT NULL REFERENCES bill ON UPDATE CASCADE,
  line_no     integer     NOT NULL,
  dish_code   varchar(5)  NOT NULL,
  qty         numeric(12,3) NOT NULL,
  reason_code varchar(3)  NOT NULL DEFAULT '',
  reason      varchar(14) NOT NULL DEFAULT '',
  op_code     varchar(4)  NOT NULL,
  terminal_no integer     NOT NULL DEFAULT 0,
  return_time timestamp   NOT NULL DEFAULT localtimestamp(0)
);

-- Audit trail of table, serve, discount and settlement operations.
CREATE TABLE table_op_log (
  id          bigserial PRIMARY KEY,
  op_kind     varchar(12) NOT NULL,
  table_no    varchar(4)  NOT NULL DEFAULT '',
  dest_table  varchar(4)  NOT NULL DEFAULT '',
  bill_no     varchar(20) NOT NULL DEFAULT '',
  detail      varchar(60) NOT NULL DEFAULT '',
  op_code     varchar(4)  NOT NULL DEFAULT '',
  terminal_no integer     NOT NULL DEFAULT 0,
  op_time     timestamp   NOT NULL DEFAULT localtimestamp(0)
);

-- Pre-printed bills waiting for the printer program.
CREATE TABLE print_job (
  id          bigserial PRIMARY KEY,
  bill_no     varchar(20) NOT NULL REFERENCES bill ON UPDATE CASCADE,
  table_no    varchar(4)  NOT NULL,
  amount      numeric(12,2) NOT NULL,
  op_code     varchar(4)  NOT NULL,
  created     timestamp   NOT NULL DEFAULT localtimestamp(0),
  printed     boolean     NOT NULL DEFAULT false
);

-- Sold-out list: qty_left 0 = sold out, otherwise the portions still available.
CREATE TABLE sold_out (
  dish_code   varchar(5)  PRIMARY KEY REFERENCES dish ON DELETE CASCADE,
  qty_left    numeric(12,3) NOT NULL DEFAULT 0 CHECK (qty_left >= 0),
  set_time    timestamp   NOT NULL DEFAULT localtimestamp(0)
);

CREATE TABLE member (
  card_no     varchar(20) PRIMARY KEY,
  member_name varchar(10) NOT NULL,
  phone       varchar(20) NOT NULL DEFAULT '',
  level_name  varchar(8)  NOT NULL DEFAULT '',
  disc_rate   integer     NOT NULL DEFAULT 100,
  balance     numeric(12,2) NOT NULL DEFAULT 0,
  points      integer     NOT NULL DEFAULT 0,
  active      boolean     NOT NULL DEFAULT true
);
CREATE INDEX member_phone_idx ON member (phone);

CREATE TABLE weight_record (
  id          bigserial PRIMARY KEY,
  bill_no     varchar(20) NOT NULL REFERENCES bill ON UPDATE CASCADE,
  line_no     integer     NOT NULL,
  table_no    varchar(4)  NOT NULL,
  dish_code   varchar(5)  NOT NULL,
  flow_id     varchar(3)  NOT NULL DEFAULT '',
  weight      numeric(12,3) NOT NULL,
  op_code     varchar(4)  NOT NULL,
  terminal_no integer     NOT NULL DEFAULT 0,
  weigh_time  timestamp   NOT NULL DEFAULT localtimestamp(0)
);

-- ---------------------------------------------------------------- stocktaking

CREATE TABLE supplier (
  supplier_code varchar(10) PRIMARY KEY,
  supplier_name varchar(60) NOT NULL,
  index_code    varchar(10) NOT NULL DEFAULT ''
);

CREATE TABLE organisation (
  org_code    varchar(10) PRIMARY KEY,
  org_name    varchar(60) NOT NULL,
  index_code  varchar(10) NOT NULL DEFAULT ''
);

CREATE TABLE goods (
  goods_code    varchar(30) PRIMARY KEY,
  barcode       varchar(30) NOT NULL DEFAULT '',
  def_code      varchar(15) NOT NULL DEFAULT '',   -- shop's own short code
  goods_name    varchar(40) NOT NULL,
  spec          varchar(20) NOT NULL DEFAULT '',
  unit          varchar(14) NOT NULL DEFAULT '',
  supplier_code varchar(10) REFERENCES supplier,
  in_price      numeric(12,2) NOT NULL DEFAULT 0,
  sale_price    numeric(12,2) NOT NULL DEFAULT 0,
  stock_qty     numeric(12,3) NOT NULL DEFAULT 0
);
CREATE INDEX goods_barcode_idx ON goods (barcode);
CREATE INDEX goods_def_code_idx ON goods (def_code);

-- state: 0 open for counting, 1 approved (closed).
CREATE TABLE stock_batch (
  batch_no    varchar(12) NOT NULL,
  shop_code   varchar(10) NOT NULL REFERENCES shop,
  state       smallint    NOT NULL DEFAULT 0 CHECK (state IN (0, 1)),
  created     timestamp   NOT NULL DEFAULT localtimestamp(0),
  memo        varchar(40) NOT NULL DEFAULT '',
  PRIMARY KEY (shop_code, batch_no)
);

-- Document header, one per (shop, type, number, terminal).
-- bill_type: 0 stocktaking sheet, 1 issue, 2 receipt, 3 collection.
-- state: 0 receiving lines, 1 posted, 2 approved in the back office.
CREATE TABLE stock_bill (
  bill_id     bigserial PRIMARY KEY,
  shop_code   varchar(10) NOT NULL REFERENCES shop,
  bill_type   smallint    NOT NULL CHECK (bill_type BETWEEN 0 AND 3),
  bill_no     varchar(15) NOT NULL,
  terminal_no integer     NOT NULL,
  batch_no    varchar(12) NOT NULL DEFAULT '',
  supplier_code varchar(10) NOT NULL DEFAULT '',
  state       smallint    NOT NULL DEFAULT 0 CHECK (state IN (0, 1, 2)),
  created     timestamp   NOT NULL DEFAULT localtimestamp(0),
  posted      timestamp,
  post_count  integer     NOT NULL DEFAULT 0,
  UNIQUE (shop_code, bill_type, bill_no, terminal_no)
);

-- Uploaded lines not yet posted. One line per goods and supplier within a document:
-- a repeated record replaces the quantity and price (a resent frame must not double it).
CREATE TABLE pda_bill_pending (
  bill_id     bigint      NOT NULL REFERENCES stock_bill ON DELETE CASCADE,
  goods_code  varchar(30) NOT NULL,
  supply_code varchar(10) NOT NULL DEFAULT '',
  qty         numeric(14,3) NOT NULL,
  price       numeric(12,2) NOT NULL,
  scan_code   varchar(30) NOT NULL,        -- the code as the terminal sent it
  received    timestamp   NOT NULL DEFAULT localtimestamp(0),
  PRIMARY KEY (bill_id, goods_code, supply_code)
);

-- Lines of posted documents, same key.
CREATE TABLE stock_bill_line (
  bill_id     bigint      NOT NULL REFERENCES stock_bill ON DELETE CASCADE,
  line_no     integer     NOT NULL,
  goods_code  varchar(30) NOT NULL REFERENCES goods,
  supply_code varchar(10) NOT NULL DEFAULT '',
  qty         numeric(14,3) NOT NULL,
  price       numeric(12,2) NOT NULL,
  posted      timestamp   NOT NULL DEFAULT localtimestamp(0),
  PRIMARY KEY (bill_id, goods_code, supply_code),
  UNIQUE (bill_id, line_no)
);

CREATE TABLE stock_post_log (
  id          bigserial PRIMARY KEY,
  bill_id     bigint      NOT NULL REFERENCES stock_bill ON DELETE CASCADE,
  lines_moved integer     NOT NULL,
  posted      timestamp   NOT NULL DEFAULT localtimestamp(0)
);

INSERT INTO result_code (code, text) VALUES
  (0,   '返回OK'),
  (101, '单据类型有误'),
  (102, '没有要下载盘点批次'),
  (103, '单据号不能为空'),
  (104, '商品编码不能为空'),
  (105, '对应的产品库没有该商品编码'),
  (106, '数量不是有效的数字'),
  (107, '生成临时表出错'),
  (108, '批号不能空'),
  (109, '盘点批次不存在'),
  (110, '盘点批次已经审核'),
  (111, '生成了盘点单明细出错'),
  (112, '生成了盘点单主信息出错'),
  (113, '请设置无线服务程序的门店代号'),
  (114, '设置门店代号非法'),
  (115, '单据不存在'),
  (116, '资料类型有误'),
  (117, '单据已审核,不能修改'),
  (120, '操作员不存在'),
  (121, '操作员密码错误'),
  (122, '台号不存在'),
  (123, '该台已开台'),
  (124, '该台未开台'),
  (125, '该台已预订'),
  (126, '菜品不存在'),
  (127, '菜品已沽清'),
  (128, '数量无效'),
  (129, '退菜数量超过已点数量'),
  (130, '没有可操作的菜品'),
  (131, '目标台号不可用'),
  (132, '已点菜品,不能撤台'),
  (133, '折扣超出权限'),
  (134, '折扣方案不存在'),
  (135, '会员不存在'),
  (136, '新密码无效'),
  (137, '点菜时间无效'),
  (138, '服务员不存在'),
  (139, '账单不存在'),
  (140, '没有结账权限'),
  (141, '人数无效'),
  (142, '操作类型有误'),
  (143, '折扣率无效'),
  (144, '单价无效'),
  (145, '该台未预订');

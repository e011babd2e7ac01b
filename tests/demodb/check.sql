-- SQL-level checks of the demo database's procedures. Every failed check raises, so
-- psql -v ON_ERROR_STOP=1 ends non-zero. Runs in one transaction that is rolled back.
\set ON_ERROR_STOP 1
SET client_min_messages = warning;
BEGIN;

CREATE FUNCTION pg_temp.expect(what text, got anyelement, want anyelement) RETURNS void
LANGUAGE plpgsql AS $$
BEGIN
  IF got IS DISTINCT FROM want THEN
    RAISE EXCEPTION 'check failed: %: got %, want %', what, got, want;
  END IF;
END $$;

-- Rows of a reading procedure's cursor, counted and closed.
CREATE FUNCTION pg_temp.cursor_rows(c refcursor) RETURNS integer
LANGUAGE plpgsql AS $$
DECLARE n integer := 0; r record;
BEGIN
  LOOP
    FETCH c INTO r;
    EXIT WHEN NOT FOUND;
    n := n + 1;
  END LOOP;
  CLOSE c;
  RETURN n;
END $$;

-- ------------------------------------------------------------- downloads
DO $$
DECLARE r integer; s varchar; c refcursor; n integer;
BEGIN
  CALL "MT_Get_Dish_Info"(0, 1, r, s, c);
  PERFORM pg_temp.expect('W-PLU result', r, 0);
  PERFORM pg_temp.expect('W-PLU rows', pg_temp.cursor_rows(c), 2000);
  c := NULL;
  CALL "MT_Get_Sort_Info"(0, 1, r, s, c);
  PERFORM pg_temp.expect('W-DEPT rows', pg_temp.cursor_rows(c), 10);
  c := NULL;
  CALL "MT_Get_Shop_Info"(1, r, s, c);
  FETCH c INTO s;
  PERFORM pg_temp.expect('W-SHOP name', s, '湘味小馆'::varchar);
  CLOSE c;
  -- every dish code is unique and fits the terminal's 5 bytes
  SELECT count(*) INTO n FROM dish WHERE octet_length(dish_code) <> 5 OR octet_length(convert_to(dish_name, 'GBK')) > 20;
  PERFORM pg_temp.expect('dish field widths', n, 0);
END $$;

-- ------------------------------------------------------------- login
DO $$
DECLARE r integer; s varchar; c refcursor; nm varchar;
BEGIN
  CALL "MT_Ins_User_Login"(3, '001', 'PDA03', '001', '123', r, s, c);
  PERFORM pg_temp.expect('good login result', r, 0);
  FETCH c INTO nm;
  PERFORM pg_temp.expect('good login name', nm, '张经理'::varchar);
  CLOSE c;
  c := NULL;
  CALL "MT_Ins_User_Login"(3, '001', 'PDA03', '001', '999', r, s, c);
  PERFORM pg_temp.expect('bad password result', r, 121);
  PERFORM pg_temp.expect('bad password text', s, '操作员密码错误'::varchar);
  PERFORM pg_temp.expect('bad password rows', pg_temp.cursor_rows(c), 0);
  c := NULL;
  CALL "MT_Ins_User_Login"(3, '001', 'PDA03', '099', '123', r, s, c);
  PERFORM pg_temp.expect('unknown operator result', r, 120);
  PERFORM pg_temp.expect('unknown operator rows', pg_temp.cursor_rows(c), 0);
END $$;

-- ------------------------------------------------------------- open, order, bill, return
DO $$
DECLARE r integer; s varchar; c refcursor; n integer; q numeric; v_bill varchar;
BEGIN
  CALL "MT_Ins_Op_Table"(3, 'A01', '4', '003', '', '003', 0, r, s);
  PERFORM pg_temp.expect('open A01', r, 0);
  SELECT state, bill_no INTO n, v_bill FROM dining_table WHERE table_no = 'A01';
  PERFORM pg_temp.expect('A01 occupied', n, 1);
  CALL "MT_Ins_Op_Table"(4, 'A01', '2', '', '', '004', 0, r, s);
  PERFORM pg_temp.expect('open occupied A01', r, 123);
  CALL "MT_Ins_Op_Table"(3, 'Z99', '2', '', '', '003', 0, r, s);
  PERFORM pg_temp.expect('open missing table', r, 122);
  CALL "MT_Ins_Op_Table"(3, 'A02', 'x', '', '', '003', 0, r, s);
  PERFORM pg_temp.expect('open with bad people', r, 141);

  -- two records of one order, then the first record again (a resent frame)
  CALL "MT_Ins_Order_Dish"('3', 'A01', '003', '少辣', 0, 0, '20261210113000', 2, 64,
       1, '02002', '辣椒炒肉', '份', '', 2, 0, 32, 0, 0, '0', 0, 0, r, s);
  PERFORM pg_temp.expect('order record 1', r, 0);
  CALL "MT_Ins_Order_Dish"('3', 'A01', '003', '少辣', 0, 0, '20261210113000', 2, 64,
       2, '06001', '米饭', '碗', '', 4, 0, 2, 0, 0, '1', 0, 0, r, s);
  PERFORM pg_temp.expect('order record 2', r, 0);
  PERFORM pg_temp.expect('order complete text', s, '点菜完成,共2道'::varchar);
  CALL "MT_Ins_Order_Dish"('3', 'A01', '003', '少辣', 0, 0, '20261210113000', 2, 64,
       1, '02002', '辣椒炒肉', '份', '', 2, 0, 32, 0, 0, '0', 0, 0, r, s);
  PERFORM pg_temp.expect('resent record 1', r, 0);
  SELECT count(*) INTO n FROM bill_line WHERE bill_no = v_bill;
  PERFORM pg_temp.expect('lines after resend', n, 2);
  -- the same record number in another order (other time) is a new line
  CALL "MT_Ins_Order_Dish"('3', 'A01', '003', '', 0, 0, '20261210114500', 1, 18,
       1, '05001', '番茄蛋汤', '份', '', 1, 0, 18, 0, 0, '0', 0, 0, r, s);
  PERFORM pg_temp.expect('second order', r, 0);
  SELECT count(*) INTO n FROM bill_line WHERE bill_no = v_bill;
  PERFORM pg_temp.expect('lines after second order', n, 3);
  CALL "MT_Ins_Order_Dish"('3', 'A01', '003', '', 0, 0, '20261310114500', 1, 18,
       2, '05001', '番茄蛋汤', '份', '', 1, 0, 18, 0, 0, '0', 0, 0, r, s);
  PERFORM pg_temp.expect('bad order time', r, 137);
  CALL "MT_Ins_Order_Dish"('3', 'A02', '003', '', 0, 0, '20261210114500', 1, 18,
       1, '05001', '番茄蛋汤', '份', '', 1, 0, 18, 0, 0, '0', 0, 0, r, s);
  PERFORM pg_temp.expect('order on a free table', r, 124);
  CALL "MT_Ins_Order_Dish"('3', 'A01', '003', '', 0, 0, '20261210115000', 1, 88,
       1, '04005', '香辣蟹', '斤', '', 1, 0, 88, 0, 0, '0', 0, 1, r, s);
  PERFORM pg_temp.expect('sold-out dish', r, 127);
  CALL "MT_Ins_Order_Dish"('3', 'A01', '003', '', 0, 0, '20261210115000', 1, 88,
       1, '99999', '', '', '', 1, 0, 88, 0, 0, '0', 0, 0, r, s);
  PERFORM pg_temp.expect('unknown dish', r, 126);
  CALL "MT_Ins_Order_Dish"('3', 'A01', '003', '', 0, 0, '20261210115000', 1, 88,
       1, '02004', '', '', '', 'NaN', 0, 52, 0, 0, '0', 0, 0, r, s);
  PERFORM pg_temp.expect('NaN quantity', r, 128);

  CALL "MT_Get_Bill_Query"(3, 'A01', '003', r, s, c);
  PERFORM pg_temp.expect('bill query', r, 0);
  PERFORM pg_temp.expect('bill rows', pg_temp.cursor_rows(c), 3);
  c := NULL;
  CALL "MT_Get_Bill_Query"(3, 'A02', '003', r, s, c);
  PERFORM pg_temp.expect('bill of a free table', r, 124);
  PERFORM pg_temp.expect('bill of a free table rows', pg_temp.cursor_rows(c), 0);

  CALL "MT_Ins_Dish_Return"(3, 'A01', '02002', 1, '003', '003', r, s);
  PERFORM pg_temp.expect('return one', r, 0);
  SELECT sum(qty) INTO q FROM bill_line WHERE bill_no = v_bill AND dish_code = '02002';
  PERFORM pg_temp.expect('quantity after return', q, 1.000);
  SELECT reason INTO s FROM bill_return WHERE bill_no = v_bill;
  PERFORM pg_temp.expect('return reason', s, '点错菜'::varchar);
  CALL "MT_Ins_Dish_Return"(3, 'A01', '02002', 5, '', '003', r, s);
  PERFORM pg_temp.expect('return too many', r, 129);
  CALL "MT_Ins_Dish_Return"(3, 'A01', '02002', 1, '客人不要了', '003', r, s);
  PERFORM pg_temp.expect('return the rest', r, 0);
  c := NULL;
  CALL "MT_Get_Bill_Query"(3, 'A01', '003', r, s, c);
  PERFORM pg_temp.expect('bill rows after returns', pg_temp.cursor_rows(c), 2);
END $$;

-- The access layer's way: literals cast to the declared types, rows fetched by name.
CALL "MT_Get_Bill_Query"('3'::integer, 'A01'::varchar, '003'::varchar, '0'::integer, ''::varchar, 'bill_rs'::refcursor) \g /dev/null
DO $$
DECLARE r record; n integer := 0;
BEGIN
  FOR r IN EXECUTE 'FETCH ALL FROM bill_rs' LOOP
    n := n + 1;
    IF n = 1 THEN
      PERFORM pg_temp.expect('first line dish', r."cDishCode", '06001'::varchar);
      PERFORM pg_temp.expect('first line qty', r."fQty", 4.000);
      PERFORM pg_temp.expect('first line state', r."iDishState", 1::smallint);
      PERFORM pg_temp.expect('first line number', r."iRecNo", 2);
    END IF;
  END LOOP;
  PERFORM pg_temp.expect('rows through a named cursor', n, 2);
END $$;
CLOSE bill_rs;

-- ------------------------------------------------------------- serve, call up, hurry
DO $$
DECLARE r integer; s varchar; n integer;
BEGIN
  CALL "MT_Ins_Dish_Call"(3, 'A01', '', '', '003', '0', r, s);
  PERFORM pg_temp.expect('call up held dishes', r, 0);
  CALL "MT_Ins_Dish_Call"(3, 'A01', '', '', '003', '0', r, s);
  PERFORM pg_temp.expect('nothing left to call up', r, 130);
  CALL "MT_Ins_Dish_Prior"(3, 'A01', '05001', '', '003', '2', r, s);
  PERFORM pg_temp.expect('hurry one dish', r, 0);
  CALL "MT_Ins_Dish_Out"(3, 'A01', '', '06', '003', '1', r, s);
  PERFORM pg_temp.expect('serve a category', r, 0);
  SELECT serve_state INTO n FROM bill_line l JOIN dining_table t ON t.bill_no = l.bill_no
   WHERE t.table_no = 'A01' AND l.dish_code = '06001';
  PERFORM pg_temp.expect('rice served', n, 2);
END $$;

-- ------------------------------------------------------------- move, merge, cancel, settle
DO $$
DECLARE r integer; s varchar; n integer; v_bill varchar;
BEGIN
  SELECT bill_no INTO v_bill FROM dining_table WHERE table_no = 'A01';
  CALL "MT_Ins_Chg_Table"(3, 'A01', 'A05', '003', 0, r, s);
  PERFORM pg_temp.expect('move onto an occupied table', r, 131);
  CALL "MT_Ins_Chg_Table"(3, 'A01', 'A02', '003', 0, r, s);
  PERFORM pg_temp.expect('move A01 to A02', r, 0);
  SELECT state INTO n FROM dining_table WHERE table_no = 'A01';
  PERFORM pg_temp.expect('A01 free after move', n, 0);
  SELECT count(*) INTO n FROM dining_table WHERE table_no = 'A02' AND bill_no = v_bill AND state = 1;
  PERFORM pg_temp.expect('A02 holds the bill', n, 1);
  -- a record of the first order resent after the move still adds nothing
  CALL "MT_Ins_Order_Dish"('3', 'A01', '003', '少辣', 0, 0, '20261210113000', 2, 64,
       2, '06001', '米饭', '碗', '', 4, 0, 2, 0, 0, '1', 0, 0, r, s);
  PERFORM pg_temp.expect('resend after move', r, 0);
  SELECT count(*) INTO n FROM bill_line WHERE bill_no = v_bill;
  PERFORM pg_temp.expect('lines after resend after move', n, 3);
  SELECT state INTO n FROM dining_table WHERE table_no = 'A01';
  PERFORM pg_temp.expect('A01 still free', n, 0);

  -- merge A05 (seeded, 3 lines) into A02 (2 lines)
  CALL "MT_Ins_Chg_Table"(3, 'A05', 'A02', '003', 1, r, s);
  PERFORM pg_temp.expect('merge A05 into A02', r, 0);
  SELECT count(*) INTO n FROM bill_line WHERE bill_no = v_bill AND qty > 0;
  PERFORM pg_temp.expect('lines after merge', n, 5);
  -- 3 own lines (one fully returned) and 3 merged ones, numbered without clashes
  SELECT count(DISTINCT line_no) INTO n FROM bill_line WHERE bill_no = v_bill;
  PERFORM pg_temp.expect('line numbers distinct', n, 6);
  SELECT people INTO n FROM dining_table WHERE table_no = 'A02';
  PERFORM pg_temp.expect('people after merge', n, 8);

  CALL "MT_Ins_Chg_Table"(3, 'A02', '', '003', 2, r, s);
  PERFORM pg_temp.expect('cancel a table with dishes', r, 132);
  CALL "MT_Ins_Op_Table"(3, 'A03', '2', '', '', '003', 0, r, s);
  CALL "MT_Ins_Chg_Table"(3, 'A03', '', '003', 2, r, s);
  PERFORM pg_temp.expect('cancel an empty table', r, 0);

  CALL "MT_Ins_Bill_Disc"(3, 'A02', '1', '80', '', '003', r, s);
  PERFORM pg_temp.expect('discount beyond a waiter''s right', r, 133);
  CALL "MT_Ins_Bill_Disc"(3, 'A02', '1', '90', '', '001', r, s);
  PERFORM pg_temp.expect('manager discount', r, 0);
  CALL "MT_Ins_Bill_Check"(3, 'A02', '003', r, s);
  PERFORM pg_temp.expect('waiter may not settle', r, 140);
  CALL "MT_Ins_Bill_Check"(3, 'A02', '002', r, s);
  PERFORM pg_temp.expect('settle', r, 0);
  SELECT state INTO n FROM bill WHERE bill_no = v_bill;
  PERFORM pg_temp.expect('bill settled', n, 1);
  -- 06001 4x2 + 05001 18 (this bill) + 32 + 18 + 4x2 (merged) = 84, 90 % payable
  PERFORM pg_temp.expect('amount paid', (SELECT pay_amount FROM bill WHERE bill_no = v_bill), 75.60);

  CALL "MT_Ins_Talbe_Query"(3, 'B03', '', '003', 4, r, s);
  PERFORM pg_temp.expect('reservation query', r, 0);
  CALL "MT_Ins_Talbe_Query"(3, '', 'B', '003', 1, r, s);
  PERFORM pg_temp.expect('free rooms', r, 0);
  IF position('B03' IN s) > 0 OR position('B01' IN s) = 0 THEN
    RAISE EXCEPTION 'check failed: free rooms text %', s;
  END IF;
END $$;

-- ------------------------------------------------------------- fast food, limited dishes
DO $$
DECLARE r integer; s varchar; n integer; q numeric;
BEGIN
  -- a fast-food order opens its free table itself
  CALL "MT_Ins_Order_Dish"('4', 'C01', '004', '', 0, 1, '20261210120000', 2, 0,
       1, '03003', '', '', '', 3, 0, 58, 0, 0, '0', 0, 0, r, s);
  PERFORM pg_temp.expect('fast-food order', r, 0);
  SELECT state INTO n FROM dining_table WHERE table_no = 'C01';
  PERFORM pg_temp.expect('fast-food table opened', n, 1);
  SELECT qty_left INTO q FROM sold_out WHERE dish_code = '03003';
  PERFORM pg_temp.expect('portions left', q, 2.000);
  CALL "MT_Ins_Order_Dish"('4', 'C01', '004', '', 0, 1, '20261210120000', 2, 0,
       2, '03003', '', '', '', 3, 0, 58, 0, 0, '0', 0, 0, r, s);
  PERFORM pg_temp.expect('more than is left', r, 127);
  CALL "MT_Ins_Order_Dish"('4', 'C01', '004', '', 0, 1, '20261210120000', 2, 0,
       2, '03003', '', '', '', 2, 0, 58, 0, 0, '0', 0, 0, r, s);
  PERFORM pg_temp.expect('the last portions', r, 0);
  -- the resent record that took the last portions is still acknowledged, and takes nothing
  CALL "MT_Ins_Order_Dish"('4', 'C01', '004', '', 0, 1, '20261210120000', 2, 0,
       2, '03003', '', '', '', 2, 0, 58, 0, 0, '0', 0, 0, r, s);
  PERFORM pg_temp.expect('resent last portions', r, 0);
  SELECT qty_left INTO q FROM sold_out WHERE dish_code = '03003';
  PERFORM pg_temp.expect('sold out now', q, 0.000);
  SELECT count(*) INTO n FROM bill_line l JOIN dining_table t ON t.bill_no = l.bill_no WHERE t.table_no = 'C01';
  PERFORM pg_temp.expect('fast-food lines', n, 2);
  -- a refused first record creates no order and opens no table
  CALL "MT_Ins_Order_Dish"('4', 'C02', '004', '', 0, 1, '20261210120500', 1, 0,
       1, '03003', '', '', '', 1, 0, 58, 0, 0, '0', 0, 0, r, s);
  PERFORM pg_temp.expect('sold out for the next guest', r, 127);
  SELECT state INTO n FROM dining_table WHERE table_no = 'C02';
  PERFORM pg_temp.expect('C02 still free', n, 0);
  SELECT count(*) INTO n FROM order_header WHERE table_no = 'C02';
  PERFORM pg_temp.expect('no order for C02', n, 0);
END $$;

-- ------------------------------------------------------------- weighed dish
DO $$
DECLARE r integer; s varchar; q numeric; v_bill varchar;
BEGIN
  CALL "MT_Ins_Op_Table"(3, 'A10', '2', '', '', '003', 0, r, s);
  SELECT bill_no INTO v_bill FROM dining_table WHERE table_no = 'A10';
  CALL "MT_Ins_Order_Dish"('3', 'A10', '003', '清蒸', 0, 0, '20261210121000', 1, 48,
       1, '04002', '活鲈鱼', '条', '', 1, 0, 48, 0, 0, '0', 0, 1, r, s);
  PERFORM pg_temp.expect('order the fish', r, 0);
  CALL "MT_Ins_Weight_Check"(3, 'A10', '04002', '', 0, '003', r, s);
  PERFORM pg_temp.expect('zero weight', r, 128);
  CALL "MT_Ins_Weight_Check"(3, 'A10', '04002', '', 1.5, '003', r, s);
  PERFORM pg_temp.expect('weigh the fish', r, 0);
  PERFORM pg_temp.expect('priced by weight', qv_bill_gross(v_bill), 72.00);
  CALL "MT_Ins_Weight_Check"(3, 'A10', '02002', '', 1.5, '003', r, s);
  PERFORM pg_temp.expect('weigh a dish not ordered', r, 130);
END $$;

-- ------------------------------------------------------------- stocktaking
DO $$
DECLARE r integer; s varchar; n integer; q numeric; stock0 numeric;
  v_ean varchar := (SELECT barcode FROM goods WHERE goods_code = 'G00033');
BEGIN
  CALL "pda_ins_bill_inf"(7, '', 2, 'RK1', 'S001', 'G00032', 5, 2, r, s);
  PERFORM pg_temp.expect('no shop code', r, 113);
  CALL "pda_ins_bill_inf"(7, '009', 2, 'RK1', 'S001', 'G00032', 5, 2, r, s);
  PERFORM pg_temp.expect('unknown shop code', r, 114);
  CALL "pda_ins_bill_inf"(7, '001', 2, 'RK1', 'S001', 'NOSUCH', 5, 2, r, s);
  PERFORM pg_temp.expect('unknown goods', r, 105);
  CALL "pda_ins_bill_inf"(7, '001', 0, 'PD9', '', 'G00032', 5, 2, r, s);
  PERFORM pg_temp.expect('stocktaking without batch', r, 109);
  CALL "pda_ins_bill_inf"(7, '001', 0, 'PD2026110101', '', 'G00032', 5, 2, r, s);
  PERFORM pg_temp.expect('approved batch', r, 110);

  SELECT stock_qty INTO stock0 FROM goods WHERE goods_code = 'G00032';
  -- document 1: two goods, the first resent; the second sent by barcode
  CALL "pda_ins_bill_inf"(7, '001', 2, 'RK1', 'S001', 'G00032', 5, 2, r, s);
  PERFORM pg_temp.expect('doc 1 line 1', r, 0);
  CALL "pda_ins_bill_inf"(7, '001', 2, 'RK1', 'S001', 'G00032', 5, 2, r, s);
  PERFORM pg_temp.expect('doc 1 line 1 again', r, 0);
  CALL "pda_ins_bill_inf"(7, '001', 2, 'RK1', 'S001', v_ean, 3, 3, r, s);
  PERFORM pg_temp.expect('doc 1 line 2', r, 0);
  -- document 2
  CALL "pda_ins_bill_inf"(7, '001', 2, 'RK2', 'S001', 'G00032', 1.5, 2, r, s);
  PERFORM pg_temp.expect('doc 2 line 1', r, 0);
  SELECT count(*) INTO n FROM pda_bill_pending;
  PERFORM pg_temp.expect('pending lines', n, 3);

  CALL "pda_bat_bill_inf"(7, '001', 2, 'RK1', 'RK1', r, s);
  PERFORM pg_temp.expect('post doc 1', r, 0);
  CALL "pda_bat_bill_inf"(7, '001', 2, 'RK1', 'RK1', r, s);
  PERFORM pg_temp.expect('post doc 1 again', r, 0);
  CALL "pda_bat_bill_inf"(7, '001', 2, 'RK2', 'RK2', r, s);
  PERFORM pg_temp.expect('post doc 2', r, 0);
  CALL "pda_bat_bill_inf"(7, '001', 2, 'RK3', 'RK3', r, s);
  PERFORM pg_temp.expect('post unknown doc', r, 115);

  SELECT count(*) INTO n FROM stock_bill_line l JOIN stock_bill b USING (bill_id)
   WHERE b.bill_no = 'RK1' AND b.terminal_no = 7;
  PERFORM pg_temp.expect('doc 1 posted lines', n, 2);
  SELECT sum(qty) INTO q FROM stock_bill_line l JOIN stock_bill b USING (bill_id)
   WHERE b.bill_no = 'RK1' AND b.terminal_no = 7;
  PERFORM pg_temp.expect('doc 1 posted quantity', q, 8.000);
  SELECT count(*) INTO n FROM stock_bill_line l JOIN stock_bill b USING (bill_id)
   WHERE b.bill_no = 'RK2' AND b.terminal_no = 7;
  PERFORM pg_temp.expect('doc 2 posted lines', n, 1);
  SELECT post_count INTO n FROM stock_bill WHERE bill_no = 'RK1' AND terminal_no = 7;
  PERFORM pg_temp.expect('doc 1 posted once', n, 1);
  SELECT count(*) INTO n FROM pda_bill_pending;
  PERFORM pg_temp.expect('pending after posting', n, 0);
  SELECT stock_qty - stock0 INTO q FROM goods WHERE goods_code = 'G00032';
  PERFORM pg_temp.expect('stock received once', q, 6.500);

  -- a resent document after posting replaces its lines instead of adding to them
  CALL "pda_ins_bill_inf"(7, '001', 2, 'RK1', 'S001', 'G00032', 5, 2, r, s);
  CALL "pda_bat_bill_inf"(7, '001', 2, 'RK1', 'RK1', r, s);
  SELECT sum(qty) INTO q FROM stock_bill_line l JOIN stock_bill b USING (bill_id)
   WHERE b.bill_no = 'RK1' AND b.terminal_no = 7;
  PERFORM pg_temp.expect('doc 1 after re-upload', q, 8.000);
  SELECT stock_qty - stock0 INTO q FROM goods WHERE goods_code = 'G00032';
  PERFORM pg_temp.expect('stock after re-upload', q, 6.500);
END $$;

DO $$
DECLARE r integer; s varchar; c refcursor; b varchar;
  v_ean varchar := (SELECT barcode FROM goods WHERE goods_code = 'G00010');
BEGIN
  CALL "pda_get_batchno_info"(7, '001', 0, r, s, c);
  PERFORM pg_temp.expect('batches', r, 0);
  PERFORM pg_temp.expect('open batches', pg_temp.cursor_rows(c), 2);
  c := NULL;
  CALL "pda_get_goods_info"(7, '001', v_ean, r, s, c);
  PERFORM pg_temp.expect('goods by barcode', r, 0);
  FETCH c INTO b;
  PERFORM pg_temp.expect('goods by barcode supplier', b, 'S007'::varchar);
  CLOSE c;
  c := NULL;
  CALL "pda_get_bill_list"(7, '001', 2, 'S005', r, s, c);
  FETCH c INTO b;
  PERFORM pg_temp.expect('bill list by supplier', b, 'RK2026120002'::varchar);
  CLOSE c;
  c := NULL;
  CALL "pda_get_bill_detail"(7, '001', 2, 'RK2026120001', r, s, c);
  PERFORM pg_temp.expect('bill detail rows', pg_temp.cursor_rows(c), 3);
  c := NULL;
  CALL "pda_get_org_inf"(7, '001', 1, r, s, c);
  PERFORM pg_temp.expect('suppliers', pg_temp.cursor_rows(c), 8);
  c := NULL;
  CALL "pda_get_org_inf"(7, '001', 3, r, s, c);
  PERFORM pg_temp.expect('bad organisation type', r, 116);
  PERFORM pg_temp.expect('bad organisation type rows', pg_temp.cursor_rows(c), 0);
END $$;

-- ------------------------------------------------------------- no procedure raises on odd input
-- Every procedure is called the access layer's way (text cast to the declared types) with
-- empty, absurd and plausible values; failures must come back as "@iResult", not as errors.
DO $$
DECLARE
  p record;
  prof integer;
  args text;
  vals text[];
  v text;
  i integer;
  r record;
  nm text;
  ty text;
  long_text text := repeat('湘,"x', 12);
BEGIN
  FOR p IN SELECT pr.oid, pr.proname, pr.proargnames AS names,
                  (SELECT array_agg(format_type(t, NULL) ORDER BY o)
                     FROM unnest(pr.proallargtypes) WITH ORDINALITY AS u(t, o)) AS types
             FROM pg_proc pr
            WHERE pr.pronamespace = 'public'::regnamespace AND pr.prokind = 'p'
            ORDER BY pr.proname
  LOOP
    FOR prof IN 1 .. 4 LOOP
      args := ''; vals := '{}';
      FOR i IN 1 .. array_length(p.names, 1) LOOP
        nm := p.names[i]; ty := p.types[i];
        v := CASE
          WHEN nm = '@iResult' THEN '0'
          WHEN nm = '@strResult' THEN ''
          WHEN nm = '@rs' THEN NULL
          WHEN ty IN ('integer', 'smallint') THEN (ARRAY['0', '-1', '2147483647', '1'])[prof]
          WHEN ty = 'numeric' THEN (ARRAY['0', 'NaN', '1e30', '1'])[prof]
          WHEN prof = 1 THEN ''
          WHEN prof = 2 THEN long_text
          WHEN prof = 3 THEN '-Infinity'
          WHEN nm IN ('@cTableNo', '@cDestTableNo') THEN 'A0' || (i % 9 + 1)
          WHEN nm IN ('@cOpCode', '@cUserCode', '@cShopNo', '@cPlanCode', '@cWaiterCode') THEN '001'
          WHEN nm = '@dtOpTime' THEN '20261210120000'
          WHEN nm = '@cDishCode' THEN '02002'
          WHEN nm = '@cStrCode' THEN 'G00001'
          WHEN nm IN ('@cDiscFlag', '@iOpType', '@cDishState') THEN '1'
          ELSE '9' END;
        vals := vals || v;
        args := args || CASE WHEN i > 1 THEN ', ' ELSE '' END || '$' || i || '::' || ty;
      END LOOP;
      BEGIN
        EXECUTE format('CALL %I(%s)', p.proname, args) INTO r USING
          vals[1], vals[2], vals[3], vals[4], vals[5], vals[6], vals[7], vals[8], vals[9], vals[10],
          vals[11], vals[12], vals[13], vals[14], vals[15], vals[16], vals[17], vals[18], vals[19],
          vals[20], vals[21], vals[22], vals[23], vals[24], vals[25];
      EXCEPTION WHEN OTHERS THEN
        RAISE EXCEPTION 'check failed: % (input set %) raised: %', p.proname, prof, SQLERRM;
      END;
      IF r."@iResult" IS NULL OR r."@strResult" IS NULL THEN
        RAISE EXCEPTION 'check failed: % (input set %) left a NULL result: %', p.proname, prof, r;
      END IF;
    END LOOP;
  END LOOP;
END $$;

ROLLBACK;
\echo 'db checks passed'

-- Demo database: the stored procedures the service calls, and their helpers.
-- Conventions: every parameter is quoted with its "@" name; failures come back in
-- "@iResult" / "@strResult", never as raised errors; a reading procedure opens "@rs"
-- (also on failure, empty, so the caller always finds a cursor).

SET client_min_messages = warning;

-- ---------------------------------------------------------------- helpers

CREATE FUNCTION qv_txt(v text) RETURNS text
LANGUAGE sql IMMUTABLE AS $$ SELECT btrim(coalesce(v, ''), E' \t\r\n') $$;

-- Integer from terminal text; dflt when it is not a plain integer.
CREATE FUNCTION qv_int(v text, dflt integer) RETURNS integer
LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  IF qv_txt(v) ~ '^[+-]?[0-9]{1,9}$' THEN
    RETURN qv_txt(v)::integer;
  END IF;
  RETURN dflt;
END $$;

-- A finite number below the limit (NaN and infinities fail the comparison).
CREATE FUNCTION qv_num_ok(n numeric, lim numeric) RETURNS boolean
LANGUAGE sql IMMUTABLE AS $$ SELECT n IS NOT NULL AND abs(n) < lim $$;

-- Terminal time "YYYYMMDDhhnnss"; NULL when malformed or not a real date.
CREATE FUNCTION qv_ts(v text) RETURNS timestamp
LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE t timestamp;
BEGIN
  IF qv_txt(v) !~ '^[0-9]{14}$' THEN
    RETURN NULL;
  END IF;
  t := to_timestamp(qv_txt(v), 'YYYYMMDDHH24MISS')::timestamp;
  IF to_char(t, 'YYYYMMDDHH24MISS') <> qv_txt(v) THEN
    RETURN NULL;
  END IF;
  RETURN t;
EXCEPTION WHEN OTHERS THEN
  RETURN NULL;
END $$;

-- Cut a text so that it fits nbytes in the terminals' code page (GBK).
CREATE FUNCTION qv_clip(t text, nbytes integer) RETURNS text
LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE n integer;
BEGIN
  t := coalesce(t, '');
  BEGIN
    n := octet_length(convert_to(t, 'GBK'));
  EXCEPTION WHEN OTHERS THEN
    RETURN left(t, nbytes / 3);
  END;
  WHILE n > nbytes LOOP
    t := left(t, -1);
    n := octet_length(convert_to(t, 'GBK'));
  END LOOP;
  RETURN t;
END $$;

CREATE FUNCTION qv_msg(c integer) RETURNS text
LANGUAGE sql STABLE AS $$
  SELECT coalesce((SELECT text FROM result_code WHERE code = c), '未知错误:' || c)
$$;

CREATE FUNCTION qv_op_ok(op text) RETURNS boolean
LANGUAGE sql STABLE AS $$
  SELECT EXISTS (SELECT 1 FROM operator WHERE op_code = qv_txt(op) AND active)
$$;

CREATE FUNCTION qv_new_bill_no() RETURNS varchar
LANGUAGE sql VOLATILE AS $$
  SELECT to_char(localtimestamp, 'YYYYMMDD') || lpad(n::text, greatest(4, length(n::text)), '0')
    FROM (SELECT nextval('bill_no_seq') AS n) s
$$;

-- Amount of one line: weighed lines count their weight, gifts nothing.
CREATE FUNCTION qv_line_amount(l bill_line) RETURNS numeric
LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN l.gift_flag <> 0 OR l.qty <= 0 THEN 0
              WHEN l.db_unit <> 0 AND l.weighed THEN round(l.db_qty * l.price, 2)
              ELSE round(l.qty * l.price, 2) END
$$;

CREATE FUNCTION qv_bill_gross(p_bill varchar) RETURNS numeric
LANGUAGE sql STABLE AS $$
  SELECT coalesce(sum(qv_line_amount(l)), 0) FROM bill_line l WHERE l.bill_no = p_bill
$$;

-- Amount payable after the bill's discount (whole-bill rate or plan with category rates).
CREATE FUNCTION qv_bill_net(p_bill varchar) RETURNS numeric
LANGUAGE sql STABLE AS $$
  SELECT coalesce(round(sum(qv_line_amount(l) *
           CASE b.disc_flag
             WHEN '1' THEN b.disc_rate
             WHEN '2' THEN coalesce(ps.rate, p.rate, 100)
             ELSE 100 END / 100.0), 2), 0)
    FROM bill b
    JOIN bill_line l ON l.bill_no = b.bill_no
    LEFT JOIN disc_plan p ON p.plan_code = b.plan_code AND b.disc_flag = '2'
    LEFT JOIN disc_plan_sort ps ON ps.plan_code = p.plan_code AND ps.sort_code = l.sort_code
   WHERE b.bill_no = p_bill
$$;

CREATE FUNCTION qv_money(n numeric) RETURNS text
LANGUAGE sql IMMUTABLE AS $$ SELECT to_char(n, 'FM9999999990.00') $$;

-- Stocktaking procedures need the shop code of the service's settings.
CREATE FUNCTION qv_shop_check(p_shop text, OUT code integer, OUT msg text)
LANGUAGE plpgsql STABLE AS $$
BEGIN
  code := 0; msg := '';
  IF qv_txt(p_shop) = '' THEN
    code := 113;
  ELSIF NOT EXISTS (SELECT 1 FROM shop WHERE shop_code = qv_txt(p_shop)) THEN
    code := 114;
  END IF;
  IF code <> 0 THEN msg := qv_msg(code); END IF;
END $$;

-- Open bill of a table, locking the table row; code 122/124 when there is none.
CREATE FUNCTION qv_open_bill(p_table text, OUT code integer, OUT msg text, OUT bill_no varchar)
LANGUAGE plpgsql VOLATILE AS $$
DECLARE t dining_table%ROWTYPE;
BEGIN
  code := 0; msg := '';
  SELECT * INTO t FROM dining_table WHERE table_no = qv_txt(p_table) FOR UPDATE;
  IF NOT FOUND THEN
    code := 122; msg := qv_msg(122) || ':' || qv_txt(p_table); RETURN;
  END IF;
  IF t.state <> 1 OR t.bill_no IS NULL THEN
    code := 124; msg := qv_msg(124) || ':' || t.table_no; RETURN;
  END IF;
  bill_no := t.bill_no;
  PERFORM 1 FROM bill b WHERE b.bill_no = t.bill_no FOR UPDATE;
END $$;

-- Serve, call up and hurry share the selection of lines: whole table (type 0),
-- one category (1) or one dish (2), never lines already served or fully returned.
CREATE FUNCTION qv_dish_op(p_kind text, p_term integer, p_table text, p_dish text,
                           p_sort text, p_op text, p_type text,
                           OUT code integer, OUT msg text)
LANGUAGE plpgsql VOLATILE AS $$
DECLARE
  v_type integer := qv_int(p_type, -1);
  v_bill varchar;
  n integer;
  what text;
BEGIN
  IF NOT qv_op_ok(p_op) THEN
    code := 120; msg := qv_msg(120); RETURN;
  END IF;
  IF v_type NOT IN (0, 1, 2) THEN
    code := 142; msg := qv_msg(142); RETURN;
  END IF;
  SELECT o.code, o.msg, o.bill_no INTO code, msg, v_bill FROM qv_open_bill(p_table) o;
  IF code <> 0 THEN RETURN; END IF;
  IF v_type = 1 AND NOT EXISTS (SELECT 1 FROM dish_sort WHERE sort_code = qv_txt(p_sort)) THEN
    code := 130; msg := '菜品分类不存在:' || qv_txt(p_sort); RETURN;
  END IF;

  IF p_kind = 'out' THEN
    UPDATE bill_line l SET serve_state = 2, state_time = localtimestamp(0)
     WHERE l.bill_no = v_bill AND l.qty > 0 AND l.serve_state < 2
       AND (v_type <> 1 OR l.sort_code = qv_txt(p_sort))
       AND (v_type <> 2 OR l.dish_code = qv_txt(p_dish));
    what := '出品';
  ELSIF p_kind = 'call' THEN
    -- held dishes (ordered with state 1) go to the kitchen now
    UPDATE bill_line l SET dish_state = 0, serve_state = 1, state_time = localtimestamp(0)
     WHERE l.bill_no = v_bill AND l.qty > 0 AND l.serve_state < 2 AND l.dish_state = 1
       AND (v_type <> 1 OR l.sort_code = qv_txt(p_sort))
       AND (v_type <> 2 OR l.dish_code = qv_txt(p_dish));
    what := '叫起';
  ELSE
    UPDATE bill_line l SET hurry_count = hurry_count + 1, state_time = localtimestamp(0)
     WHERE l.bill_no = v_bill AND l.qty > 0 AND l.serve_state < 2
       AND (v_type <> 1 OR l.sort_code = qv_txt(p_sort))
       AND (v_type <> 2 OR l.dish_code = qv_txt(p_dish));
    what := '催菜';
  END IF;
  GET DIAGNOSTICS n = ROW_COUNT;
  IF n = 0 THEN
    code := 130; msg := qv_msg(130); RETURN;
  END IF;
  INSERT INTO table_op_log (op_kind, table_no, bill_no, detail, op_code, terminal_no)
  VALUES (p_kind, qv_txt(p_table), v_bill,
          left('type ' || v_type || ' ' || qv_txt(p_sort) || qv_txt(p_dish) || ' lines ' || n, 60),
          qv_txt(p_op), coalesce(p_term, 0));
  code := 0; msg := what || '成功,共' || n || '道';
END $$;

-- ---------------------------------------------------------------- master-data downloads

CREATE PROCEDURE "MT_Get_Shop_Info"("@iMTNo" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
BEGIN
  "@iResult" := 0; "@strResult" := '';
  OPEN "@rs" FOR
    SELECT s.shop_name AS "cShopName", s.set_psw AS "cSetPsw"
      FROM shop s WHERE s.is_current;
END $$;

CREATE PROCEDURE "MT_Get_Sort_Info"("@sBase" integer, "@iMTNo" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
BEGIN
  "@iResult" := 0; "@strResult" := '';
  OPEN "@rs" FOR
    SELECT s.sort_code AS "cSortCode", s.sort_name AS "cSortName"
      FROM dish_sort s ORDER BY s.seq, s.sort_code;
END $$;

CREATE PROCEDURE "MT_Get_Dish_Info"("@sBase" integer, "@iMTNo" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
BEGIN
  "@iResult" := 0; "@strResult" := '';
  OPEN "@rs" FOR
    SELECT d.dish_code AS "cCode", d.sort_code AS "cSortCode", d.dish_name AS "cName",
           d.unit AS "cUnit", d.price AS "fPrice", d.group_flag AS "bGroupFlag",
           d.now_price_flag AS "bNowPriceFlag", d.recommend_flag AS "bRecommendFlag",
           d.spec_flag AS "bSpecFlag", d.code_index AS "cCodeIndex", d.db_unit AS "bDbUnit"
      FROM dish d WHERE d.active ORDER BY d.dish_code;
END $$;

CREATE PROCEDURE "MT_Get_Code_Index"("@sBase" integer, "@iMTNo" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
BEGIN
  "@iResult" := 0; "@strResult" := '';
  OPEN "@rs" FOR
    SELECT i.index_code AS "cCodeIndex", i.dish_code AS "cDishCode"
      FROM dish_index i JOIN dish d ON d.dish_code = i.dish_code AND d.active
     ORDER BY i.index_code, i.dish_code;
END $$;

CREATE PROCEDURE "MT_Get_Group_Info"("@sBase" integer, "@iMTNo" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
BEGIN
  "@iResult" := 0; "@strResult" := '';
  OPEN "@rs" FOR
    SELECT g.group_code AS "cGroupCode", g.group_no AS "cGroupNo", g.dish_code AS "cDishCode",
           g.add_price AS "fAddPrice", g.dish_qty AS "fDishQty", g.is_default AS "fDefGroup"
      FROM set_meal_item g ORDER BY g.group_code, g.group_no, g.dish_code;
END $$;

CREATE PROCEDURE "MT_Get_Dish_Spec"("@sBase" integer, "@iMTNo" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
BEGIN
  "@iResult" := 0; "@strResult" := '';
  OPEN "@rs" FOR
    SELECT s.dish_code AS "cDishCode", s.spec_code AS "cSpecCode", s.price AS "fPrice",
           s.is_default AS "fDefSpec"
      FROM dish_spec s ORDER BY s.dish_code, s.price, s.spec_code;
END $$;

CREATE PROCEDURE "MT_Get_Make_Info"("@iMTNo" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
BEGIN
  "@iResult" := 0; "@strResult" := '';
  OPEN "@rs" FOR
    SELECT m.make_code AS "cCode", m.make_name AS "cName", m.fun_value AS "iFunValue",
           m.price AS "fPrice"
      FROM make_method m ORDER BY m.make_code;
END $$;

CREATE PROCEDURE "MT_Get_Make_Index"("@iMTNo" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
BEGIN
  "@iResult" := 0; "@strResult" := '';
  OPEN "@rs" FOR
    SELECT i.index_code AS "cIndexCode", i.make_code AS "cMakeCode"
      FROM make_index i ORDER BY i.index_code, i.make_code;
END $$;

CREATE PROCEDURE "MT_Get_Dish_Make"("@sBase" integer, "@iMTNo" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
BEGIN
  "@iResult" := 0; "@strResult" := '';
  OPEN "@rs" FOR
    SELECT m.dish_code AS "cDishCode", m.make_code AS "cMakeCode", m.price AS "fPrice"
      FROM dish_make m ORDER BY m.dish_code, m.make_code;
END $$;

CREATE PROCEDURE "MT_Get_RetDish_Reason"("@iMTNo" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
BEGIN
  "@iResult" := 0; "@strResult" := '';
  OPEN "@rs" FOR
    SELECT r.reason_code AS "cCode", r.reason_name AS "cName"
      FROM return_reason r ORDER BY r.reason_code;
END $$;

CREATE PROCEDURE "MT_Get_Disc_Plan"("@iMTNo" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
BEGIN
  "@iResult" := 0; "@strResult" := '';
  OPEN "@rs" FOR
    SELECT p.plan_code AS "cCode", p.plan_name AS "cName"
      FROM disc_plan p WHERE p.active ORDER BY p.plan_code;
END $$;

-- ---------------------------------------------------------------- login and password

CREATE PROCEDURE "MT_Ins_User_Login"("@iMTNo" integer, "@cCorpCode" varchar,
  "@cDevCode" varchar, "@cUserCode" varchar, "@cUserPsw" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
DECLARE
  o operator%ROWTYPE;
  v_code integer := 0;
BEGIN
  SELECT * INTO o FROM operator WHERE op_code = qv_txt("@cUserCode") AND active;
  IF NOT FOUND THEN
    v_code := 120;
  ELSIF o.password <> qv_txt("@cUserPsw") THEN
    v_code := 121;
  END IF;
  INSERT INTO login_log (terminal_no, corp_code, dev_code, op_code, ok)
  VALUES (coalesce("@iMTNo", 0), left(qv_txt("@cCorpCode"), 4), left(qv_txt("@cDevCode"), 8),
          left(qv_txt("@cUserCode"), 4), v_code = 0);
  "@iResult" := v_code;
  IF v_code <> 0 THEN
    "@strResult" := qv_msg(v_code);
    OPEN "@rs" FOR SELECT ''::varchar AS "cUserName" WHERE false;
    RETURN;
  END IF;
  "@strResult" := '登录成功';
  OPEN "@rs" FOR SELECT o.op_name::varchar AS "cUserName";
END $$;

CREATE PROCEDURE "MT_Ins_Set_UserPsw"("@iMTNo" integer, "@cOldPsw" varchar,
  "@cNewPsw" varchar, "@cOpCode" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
DECLARE
  o operator%ROWTYPE;
  v_new text := qv_txt("@cNewPsw");
BEGIN
  SELECT * INTO o FROM operator WHERE op_code = qv_txt("@cOpCode") AND active FOR UPDATE;
  IF NOT FOUND THEN
    "@iResult" := 120; "@strResult" := qv_msg(120); RETURN;
  END IF;
  IF o.password <> qv_txt("@cOldPsw") THEN
    "@iResult" := 121; "@strResult" := qv_msg(121); RETURN;
  END IF;
  IF v_new = '' OR length(v_new) > 6 OR v_new !~ '^[0-9A-Za-z]+$' THEN
    "@iResult" := 136; "@strResult" := qv_msg(136); RETURN;
  END IF;
  UPDATE operator SET password = v_new WHERE op_code = o.op_code;
  INSERT INTO table_op_log (op_kind, detail, op_code, terminal_no)
  VALUES ('setpsw', 'password changed', o.op_code, coalesce("@iMTNo", 0));
  "@iResult" := 0; "@strResult" := '密码修改成功';
END $$;

-- ---------------------------------------------------------------- tables

-- iOpType 0 open, 1 reserve, 2 change the header (people, waiter, memo) of an open table.
CREATE PROCEDURE "MT_Ins_Op_Table"("@iMTNo" integer, "@cTableNo" varchar, "@iPeople" varchar,
  "@cWaiterCode" varchar, "@cMemo" varchar, "@cOpCode" varchar, "@iOpType" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
DECLARE
  t dining_table%ROWTYPE;
  v_people integer := CASE WHEN qv_txt("@iPeople") = '' THEN 0 ELSE qv_int("@iPeople", -1) END;
  v_waiter text := left(qv_txt("@cWaiterCode"), 4);
  v_memo text := left(qv_txt("@cMemo"), 20);
  v_op text := qv_txt("@cOpCode");
  v_bill varchar;
BEGIN
  IF NOT qv_op_ok(v_op) THEN
    "@iResult" := 120; "@strResult" := qv_msg(120); RETURN;
  END IF;
  IF coalesce("@iOpType", -1) NOT IN (0, 1, 2) THEN
    "@iResult" := 142; "@strResult" := qv_msg(142); RETURN;
  END IF;
  IF v_people < 0 OR v_people > 99 THEN
    "@iResult" := 141; "@strResult" := qv_msg(141); RETURN;
  END IF;
  IF v_waiter <> '' AND NOT qv_op_ok(v_waiter) THEN
    "@iResult" := 138; "@strResult" := qv_msg(138) || ':' || v_waiter; RETURN;
  END IF;
  SELECT * INTO t FROM dining_table WHERE table_no = qv_txt("@cTableNo") FOR UPDATE;
  IF NOT FOUND THEN
    "@iResult" := 122; "@strResult" := qv_msg(122) || ':' || qv_txt("@cTableNo"); RETURN;
  END IF;

  IF "@iOpType" = 0 THEN
    IF t.state = 1 THEN
      "@iResult" := 123; "@strResult" := qv_msg(123) || ':' || t.table_no; RETURN;
    END IF;
    v_bill := qv_new_bill_no();
    INSERT INTO bill (bill_no, table_no, people, waiter_code, op_code, terminal_no, memo)
    VALUES (v_bill, t.table_no, v_people, v_waiter, v_op, coalesce("@iMTNo", 0), v_memo);
    -- a reserved table is simply taken by its guests
    UPDATE dining_table SET state = 1, people = v_people, waiter_code = v_waiter, memo = v_memo,
           bill_no = v_bill, state_time = localtimestamp(0),
           reserve_memo = '', reserve_people = 0, reserve_op = ''
     WHERE table_no = t.table_no;
    INSERT INTO table_op_log (op_kind, table_no, bill_no, detail, op_code, terminal_no)
    VALUES ('open', t.table_no, v_bill, v_people || ' people', v_op, coalesce("@iMTNo", 0));
    "@iResult" := 0; "@strResult" := '开台成功,单号' || v_bill;
  ELSIF "@iOpType" = 1 THEN
    IF t.state = 1 THEN
      "@iResult" := 123; "@strResult" := qv_msg(123) || ':' || t.table_no; RETURN;
    END IF;
    IF t.state = 2 THEN
      "@iResult" := 125; "@strResult" := qv_msg(125) || ':' || t.table_no; RETURN;
    END IF;
    UPDATE dining_table SET state = 2, reserve_memo = v_memo, reserve_people = v_people,
           reserve_op = v_op, state_time = localtimestamp(0)
     WHERE table_no = t.table_no;
    INSERT INTO table_op_log (op_kind, table_no, detail, op_code, terminal_no)
    VALUES ('reserve', t.table_no, left(v_people || ' people ' || v_memo, 60), v_op, coalesce("@iMTNo", 0));
    "@iResult" := 0; "@strResult" := '预订成功';
  ELSE
    IF t.state <> 1 THEN
      "@iResult" := 124; "@strResult" := qv_msg(124) || ':' || t.table_no; RETURN;
    END IF;
    -- blank fields keep their value
    UPDATE dining_table SET
           people = CASE WHEN qv_txt("@iPeople") = '' THEN people ELSE v_people END,
           waiter_code = CASE WHEN v_waiter = '' THEN waiter_code ELSE v_waiter END,
           memo = CASE WHEN v_memo = '' THEN memo ELSE v_memo END
     WHERE table_no = t.table_no;
    UPDATE bill SET
           people = CASE WHEN qv_txt("@iPeople") = '' THEN people ELSE v_people END,
           waiter_code = CASE WHEN v_waiter = '' THEN waiter_code ELSE v_waiter END,
           memo = CASE WHEN v_memo = '' THEN memo ELSE v_memo END
     WHERE bill_no = t.bill_no;
    INSERT INTO table_op_log (op_kind, table_no, bill_no, detail, op_code, terminal_no)
    VALUES ('settable', t.table_no, t.bill_no, left(qv_txt("@iPeople") || ' ' || v_waiter || ' ' || v_memo, 60),
            v_op, coalesce("@iMTNo", 0));
    "@iResult" := 0; "@strResult" := '修改台头成功';
  END IF;
END $$;

-- iOpType 0 move the bill to a free table, 1 merge it into another open table,
-- 2 cancel the table (only while nothing is ordered on it; a reservation is cancelled too).
CREATE PROCEDURE "MT_Ins_Chg_Table"("@iMTNo" integer, "@cTableNo" varchar,
  "@cDestTableNo" varchar, "@cOpCode" varchar, "@iOpType" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
DECLARE
  v_src text := qv_txt("@cTableNo");
  v_dst text := qv_txt("@cDestTableNo");
  v_op text := qv_txt("@cOpCode");
  s dining_table%ROWTYPE;
  d dining_table%ROWTYPE;
  v_off integer;
  n integer;
BEGIN
  IF NOT qv_op_ok(v_op) THEN
    "@iResult" := 120; "@strResult" := qv_msg(120); RETURN;
  END IF;
  IF coalesce("@iOpType", -1) NOT IN (0, 1, 2) THEN
    "@iResult" := 142; "@strResult" := qv_msg(142); RETURN;
  END IF;
  -- lock both tables in key order so that two terminals cannot deadlock
  PERFORM 1 FROM dining_table WHERE table_no IN (v_src, v_dst) ORDER BY table_no FOR UPDATE;
  SELECT * INTO s FROM dining_table WHERE table_no = v_src;
  IF NOT FOUND THEN
    "@iResult" := 122; "@strResult" := qv_msg(122) || ':' || v_src; RETURN;
  END IF;

  IF "@iOpType" = 2 THEN
    IF s.state = 2 THEN
      UPDATE dining_table SET state = 0, reserve_memo = '', reserve_people = 0, reserve_op = '',
             state_time = localtimestamp(0)
       WHERE table_no = s.table_no;
      INSERT INTO table_op_log (op_kind, table_no, detail, op_code, terminal_no)
      VALUES ('cancel', s.table_no, 'reservation', v_op, coalesce("@iMTNo", 0));
      "@iResult" := 0; "@strResult" := '已取消预订'; RETURN;
    END IF;
    IF s.state <> 1 THEN
      "@iResult" := 124; "@strResult" := qv_msg(124) || ':' || s.table_no; RETURN;
    END IF;
    IF EXISTS (SELECT 1 FROM bill_line WHERE bill_no = s.bill_no AND qty > 0) THEN
      "@iResult" := 132; "@strResult" := qv_msg(132); RETURN;
    END IF;
    UPDATE bill SET state = 3, close_time = localtimestamp(0) WHERE bill_no = s.bill_no;
    UPDATE dining_table SET state = 0, people = 0, waiter_code = '', memo = '', bill_no = NULL,
           state_time = localtimestamp(0)
     WHERE table_no = s.table_no;
    INSERT INTO table_op_log (op_kind, table_no, bill_no, op_code, terminal_no)
    VALUES ('cancel', s.table_no, s.bill_no, v_op, coalesce("@iMTNo", 0));
    "@iResult" := 0; "@strResult" := '撤台成功'; RETURN;
  END IF;

  IF s.state <> 1 THEN
    "@iResult" := 124; "@strResult" := qv_msg(124) || ':' || s.table_no; RETURN;
  END IF;
  SELECT * INTO d FROM dining_table WHERE table_no = v_dst;
  IF NOT FOUND THEN
    "@iResult" := 122; "@strResult" := '目标' || qv_msg(122) || ':' || v_dst; RETURN;
  END IF;
  IF d.table_no = s.table_no THEN
    "@iResult" := 131; "@strResult" := qv_msg(131) || ':' || '同一台号'; RETURN;
  END IF;

  IF "@iOpType" = 0 THEN
    IF d.state <> 0 THEN
      "@iResult" := 131;
      "@strResult" := qv_msg(131) || ':' || d.table_no || CASE d.state WHEN 1 THEN '已开台' ELSE '已预订' END;
      RETURN;
    END IF;
    UPDATE bill SET table_no = d.table_no WHERE bill_no = s.bill_no;
    UPDATE dining_table SET state = 1, people = s.people, waiter_code = s.waiter_code, memo = s.memo,
           bill_no = s.bill_no, state_time = localtimestamp(0)
     WHERE table_no = d.table_no;
    UPDATE dining_table SET state = 0, people = 0, waiter_code = '', memo = '', bill_no = NULL,
           state_time = localtimestamp(0)
     WHERE table_no = s.table_no;
    INSERT INTO table_op_log (op_kind, table_no, dest_table, bill_no, op_code, terminal_no)
    VALUES ('move', s.table_no, d.table_no, s.bill_no, v_op, coalesce("@iMTNo", 0));
    "@iResult" := 0; "@strResult" := '换台成功:' || s.table_no || '->' || d.table_no;
  ELSE
    IF d.state <> 1 THEN
      "@iResult" := 131; "@strResult" := qv_msg(131) || ':' || d.table_no || '未开台'; RETURN;
    END IF;
    PERFORM 1 FROM bill WHERE bill_no IN (s.bill_no, d.bill_no) ORDER BY bill_no FOR UPDATE;
    SELECT coalesce(max(line_no), 0) INTO v_off FROM bill_line WHERE bill_no = d.bill_no;
    UPDATE bill_line SET bill_no = d.bill_no, line_no = line_no + v_off WHERE bill_no = s.bill_no;
    GET DIAGNOSTICS n = ROW_COUNT;
    UPDATE bill_return SET bill_no = d.bill_no, line_no = line_no + v_off WHERE bill_no = s.bill_no;
    UPDATE weight_record SET bill_no = d.bill_no, line_no = line_no + v_off WHERE bill_no = s.bill_no;
    -- records of orders still being resent must land on the merged bill
    UPDATE order_header SET bill_no = d.bill_no WHERE bill_no = s.bill_no;
    UPDATE bill SET people = people + s.people WHERE bill_no = d.bill_no;
    UPDATE bill SET state = 2, merged_into = d.bill_no, close_time = localtimestamp(0)
     WHERE bill_no = s.bill_no;
    UPDATE dining_table SET people = people + s.people WHERE table_no = d.table_no;
    UPDATE dining_table SET state = 0, people = 0, waiter_code = '', memo = '', bill_no = NULL,
           state_time = localtimestamp(0)
     WHERE table_no = s.table_no;
    INSERT INTO table_op_log (op_kind, table_no, dest_table, bill_no, detail, op_code, terminal_no)
    VALUES ('gather', s.table_no, d.table_no, s.bill_no, 'into ' || d.bill_no || ', ' || n || ' lines',
            v_op, coalesce("@iMTNo", 0));
    "@iResult" := 0; "@strResult" := '并台成功:' || s.table_no || '->' || d.table_no;
  END IF;
END $$;

-- Text answers of the table queries travel in the acknowledgement frame: keep them short.
-- iOpType 0 all free, 1 free in one area, 2 state of one table, 3 all reserved, 4 reservation of one table.
CREATE PROCEDURE "MT_Ins_Talbe_Query"("@iMTNo" integer, "@cTableNo" varchar,
  "@cSortCode" varchar, "@cOpCode" varchar, "@iOpType" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
DECLARE
  t dining_table%ROWTYPE;
  a table_area%ROWTYPE;
  n integer;
  lst text;
  w text;
BEGIN
  IF NOT qv_op_ok("@cOpCode") THEN
    "@iResult" := 120; "@strResult" := qv_msg(120); RETURN;
  END IF;
  "@iResult" := 0;
  CASE coalesce("@iOpType", -1)
  WHEN 0 THEN
    SELECT count(*), string_agg(table_no, ' ' ORDER BY table_no) INTO n, lst
      FROM dining_table WHERE state = 0;
    "@strResult" := CASE WHEN n = 0 THEN '没有空台' ELSE qv_clip('空台' || n || ':' || lst, 200) END;
  WHEN 1 THEN
    SELECT * INTO a FROM table_area WHERE area_code = qv_txt("@cSortCode");
    IF NOT FOUND THEN
      "@iResult" := 122; "@strResult" := '区域不存在:' || qv_txt("@cSortCode"); RETURN;
    END IF;
    SELECT count(*), string_agg(table_no, ' ' ORDER BY table_no) INTO n, lst
      FROM dining_table WHERE state = 0 AND area_code = a.area_code;
    "@strResult" := CASE WHEN n = 0 THEN a.area_name || '没有空台'
                         ELSE qv_clip(a.area_name || '空台' || n || ':' || lst, 200) END;
  WHEN 2 THEN
    SELECT * INTO t FROM dining_table WHERE table_no = qv_txt("@cTableNo");
    IF NOT FOUND THEN
      "@iResult" := 122; "@strResult" := qv_msg(122) || ':' || qv_txt("@cTableNo"); RETURN;
    END IF;
    IF t.state = 0 THEN
      "@strResult" := t.table_no || ' 空台 ' || t.seats || '座';
    ELSIF t.state = 1 THEN
      SELECT op_name INTO w FROM operator WHERE op_code = t.waiter_code;
      "@iResult" := 123;
      "@strResult" := qv_clip(t.table_no || ' 已开台 ' || t.people || '人 ' || coalesce(w, '')
                              || ' ' || to_char(t.state_time, 'HH24:MI'), 200);
    ELSE
      "@iResult" := 125;
      "@strResult" := qv_clip(t.table_no || ' 已预订 ' || t.reserve_people || '人 ' || t.reserve_memo, 200);
    END IF;
  WHEN 3 THEN
    SELECT count(*), string_agg(table_no, ' ' ORDER BY table_no) INTO n, lst
      FROM dining_table WHERE state = 2;
    "@strResult" := CASE WHEN n = 0 THEN '没有预订台' ELSE qv_clip('预订台' || n || ':' || lst, 200) END;
  WHEN 4 THEN
    SELECT * INTO t FROM dining_table WHERE table_no = qv_txt("@cTableNo");
    IF NOT FOUND THEN
      "@iResult" := 122; "@strResult" := qv_msg(122) || ':' || qv_txt("@cTableNo"); RETURN;
    END IF;
    IF t.state = 2 THEN
      "@strResult" := qv_clip(t.table_no || ' 已预订 ' || t.reserve_people || '人 ' || t.reserve_memo, 200);
    ELSE
      "@iResult" := 145; "@strResult" := qv_msg(145) || ':' || t.table_no;
    END IF;
  ELSE
    "@iResult" := 142; "@strResult" := qv_msg(142);
  END CASE;
END $$;

-- ---------------------------------------------------------------- orders

-- One dish record of an order, with the order header repeated. The header
-- (terminal, table, operator, order time) names the order; "@iRecNo" names the
-- record within it, so a resent record adds nothing.
CREATE PROCEDURE "MT_Ins_Order_Dish"("@iMTNo" varchar, "@cTableNo" varchar, "@cOpCode" varchar,
  "@cMemo" varchar, "@fMemoPrice" numeric, "@bFastFlag" integer, "@dtOpTime" varchar,
  "@iRecCount" integer, "@fTotalSum" numeric, "@iRecNo" integer, "@cDishCode" varchar,
  "@cDishName" varchar, "@cUnit" varchar, "@cSpec" varchar, "@fQty" numeric, "@fDbQty" numeric,
  "@fPrice" numeric, "@bDishFlag" integer, "@bGiftFlag" integer, "@cDishState" varchar,
  "@bTempFlag" integer, "@bDbUnit" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
DECLARE
  v_term text := left(qv_txt("@iMTNo"), 4);
  v_table text := qv_txt("@cTableNo");
  v_op text := qv_txt("@cOpCode");
  v_code text := qv_txt("@cDishCode");
  v_time timestamp := qv_ts("@dtOpTime");
  v_temp integer := coalesce("@bTempFlag", 0);
  t dining_table%ROWTYPE;
  d dish%ROWTYPE;
  so sold_out%ROWTYPE;
  v_order bigint;
  v_bill varchar;
  v_state smallint;
  v_line integer;
  v_name text;
  n integer;
BEGIN
  IF NOT qv_op_ok(v_op) THEN
    "@iResult" := 120; "@strResult" := qv_msg(120); RETURN;
  END IF;
  IF v_time IS NULL THEN
    "@iResult" := 137; "@strResult" := qv_msg(137); RETURN;
  END IF;
  IF "@iRecNo" IS NULL THEN
    "@iResult" := 128; "@strResult" := '记录号无效'; RETURN;
  END IF;
  IF NOT qv_num_ok("@fQty", 100000) OR "@fQty" <= 0
     OR NOT qv_num_ok(coalesce("@fDbQty", 0), 100000) THEN
    "@iResult" := 128; "@strResult" := qv_msg(128); RETURN;
  END IF;
  IF NOT qv_num_ok("@fPrice", 10000000) OR "@fPrice" < 0 THEN
    "@iResult" := 144; "@strResult" := qv_msg(144); RETURN;
  END IF;

  SELECT * INTO t FROM dining_table WHERE table_no = v_table FOR UPDATE;
  IF NOT FOUND THEN
    "@iResult" := 122; "@strResult" := qv_msg(122) || ':' || v_table; RETURN;
  END IF;

  SELECT order_id, bill_no INTO v_order, v_bill FROM order_header
   WHERE terminal_no = v_term AND table_no = v_table AND op_code = v_op AND op_time = v_time;
  IF v_order IS NOT NULL
     AND EXISTS (SELECT 1 FROM bill_line WHERE order_id = v_order AND rec_no = "@iRecNo") THEN
    "@iResult" := 0; "@strResult" := '点菜成功(重复记录)'; RETURN;
  END IF;

  -- check the dish before anything is created for it
  SELECT * INTO d FROM dish WHERE dish_code = v_code;
  IF NOT FOUND AND v_temp = 0 THEN
    "@iResult" := 126; "@strResult" := qv_msg(126) || ':' || v_code; RETURN;
  END IF;
  v_name := CASE WHEN d.dish_code IS NOT NULL AND v_temp = 0 THEN d.dish_name
                 ELSE coalesce(nullif(qv_txt("@cDishName"), ''), '临时菜') END;
  SELECT * INTO so FROM sold_out WHERE dish_code = v_code FOR UPDATE;
  IF FOUND THEN
    IF so.qty_left <= 0 THEN
      "@iResult" := 127; "@strResult" := qv_msg(127) || ':' || v_name; RETURN;
    END IF;
    IF so.qty_left < "@fQty" THEN
      "@iResult" := 127; "@strResult" := v_name || '仅剩' || trim_scale(so.qty_left); RETURN;
    END IF;
  END IF;

  IF v_order IS NOT NULL THEN
    SELECT state INTO v_state FROM bill WHERE bill_no = v_bill FOR UPDATE;
    IF v_state <> 0 THEN
      "@iResult" := 124; "@strResult" := qv_msg(124) || ':' || v_table; RETURN;
    END IF;
  ELSE
    IF t.state <> 1 THEN
      -- a fast-food order opens its table itself
      IF coalesce("@bFastFlag", 0) <> 0 AND t.state = 0 THEN
        v_bill := qv_new_bill_no();
        INSERT INTO bill (bill_no, table_no, people, op_code, terminal_no)
        VALUES (v_bill, t.table_no, 0, v_op, coalesce(qv_int(v_term, 0), 0));
        UPDATE dining_table SET state = 1, people = 0, waiter_code = '', memo = '', bill_no = v_bill,
               state_time = localtimestamp(0)
         WHERE table_no = t.table_no;
        t.bill_no := v_bill;
      ELSE
        "@iResult" := 124; "@strResult" := qv_msg(124) || ':' || v_table; RETURN;
      END IF;
    END IF;
    v_bill := t.bill_no;
    PERFORM 1 FROM bill WHERE bill_no = v_bill FOR UPDATE;
    INSERT INTO order_header (terminal_no, table_no, op_code, op_time, bill_no, memo, memo_price,
                              fast_flag, rec_count, total_sum)
    VALUES (v_term, v_table, v_op, v_time, v_bill, left(qv_txt("@cMemo"), 14),
            CASE WHEN qv_num_ok("@fMemoPrice", 10000000) THEN "@fMemoPrice" ELSE 0 END,
            coalesce("@bFastFlag", 0), coalesce("@iRecCount", 0),
            CASE WHEN qv_num_ok("@fTotalSum", 10000000000) THEN "@fTotalSum" ELSE 0 END)
    RETURNING order_id INTO v_order;
  END IF;

  SELECT coalesce(max(line_no), 0) + 1 INTO v_line FROM bill_line WHERE bill_no = v_bill;
  INSERT INTO bill_line (bill_no, line_no, order_id, rec_no, dish_code, dish_name, sort_code, unit,
                         spec, qty, order_qty, db_qty, price, dish_flag, gift_flag, dish_state,
                         temp_flag, db_unit, memo, op_code, order_time)
  VALUES (v_bill, v_line, v_order, "@iRecNo", v_code, left(v_name, 20), coalesce(d.sort_code, ''),
          left(coalesce(nullif(qv_txt("@cUnit"), ''), d.unit, ''), 4), left(qv_txt("@cSpec"), 10),
          "@fQty", "@fQty", coalesce("@fDbQty", 0), "@fPrice",
          coalesce("@bDishFlag", 0), coalesce("@bGiftFlag", 0), qv_int("@cDishState", 0),
          v_temp, coalesce("@bDbUnit", 0), left(qv_txt("@cMemo"), 14), v_op, v_time)
  ON CONFLICT (order_id, rec_no) DO NOTHING;
  GET DIAGNOSTICS n = ROW_COUNT;
  IF n = 0 THEN
    "@iResult" := 0; "@strResult" := '点菜成功(重复记录)'; RETURN;
  END IF;
  IF so.dish_code IS NOT NULL THEN
    UPDATE sold_out SET qty_left = qty_left - "@fQty" WHERE dish_code = v_code;
  END IF;
  UPDATE order_header SET received = received + 1 WHERE order_id = v_order
  RETURNING received, rec_count INTO n, v_line;
  "@iResult" := 0;
  "@strResult" := CASE WHEN n = v_line THEN '点菜完成,共' || n || '道' ELSE '点菜成功' END;
END $$;

-- Reduces the dish's lines on the table's bill, newest first, and keeps the reason.
CREATE PROCEDURE "MT_Ins_Dish_Return"("@iMTNo" integer, "@cTableNo" varchar,
  "@cDishCode" varchar, "@fQty" numeric, "@cReason" varchar, "@cOpCode" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
DECLARE
  v_code text := qv_txt("@cDishCode");
  v_reason text := qv_txt("@cReason");
  v_rcode text := '';
  v_bill varchar;
  v_have numeric;
  v_left numeric;
  v_take numeric;
  l record;
BEGIN
  IF NOT qv_op_ok("@cOpCode") THEN
    "@iResult" := 120; "@strResult" := qv_msg(120); RETURN;
  END IF;
  IF NOT qv_num_ok("@fQty", 100000) OR "@fQty" <= 0 THEN
    "@iResult" := 128; "@strResult" := qv_msg(128); RETURN;
  END IF;
  SELECT o.code, o.msg, o.bill_no INTO "@iResult", "@strResult", v_bill FROM qv_open_bill("@cTableNo") o;
  IF "@iResult" <> 0 THEN RETURN; END IF;

  -- the terminal sends the reason's code or its name
  SELECT reason_code, reason_name INTO v_rcode, v_reason FROM return_reason
   WHERE reason_code = qv_txt("@cReason") OR reason_name = qv_txt("@cReason")
   ORDER BY reason_code = qv_txt("@cReason") DESC LIMIT 1;
  IF NOT FOUND THEN
    v_rcode := ''; v_reason := left(qv_txt("@cReason"), 14);
  END IF;

  SELECT coalesce(sum(qty), 0) INTO v_have FROM bill_line
   WHERE bill_no = v_bill AND dish_code = v_code AND qty > 0;
  IF v_have = 0 THEN
    "@iResult" := 130; "@strResult" := qv_msg(130) || ':' || v_code; RETURN;
  END IF;
  IF v_have < "@fQty" THEN
    "@iResult" := 129; "@strResult" := qv_msg(129) || '(' || trim_scale(v_have) || ')'; RETURN;
  END IF;

  v_left := "@fQty";
  FOR l IN SELECT line_no, qty FROM bill_line
            WHERE bill_no = v_bill AND dish_code = v_code AND qty > 0
            ORDER BY line_no DESC FOR UPDATE
  LOOP
    EXIT WHEN v_left <= 0;
    v_take := least(l.qty, v_left);
    UPDATE bill_line SET qty = qty - v_take, state_time = localtimestamp(0)
     WHERE bill_no = v_bill AND line_no = l.line_no;
    INSERT INTO bill_return (bill_no, line_no, dish_code, qty, reason_code, reason, op_code, terminal_no)
    VALUES (v_bill, l.line_no, v_code, v_take, v_rcode, coalesce(v_reason, ''), qv_txt("@cOpCode"),
            coalesce("@iMTNo", 0));
    v_left := v_left - v_take;
  END LOOP;
  "@iResult" := 0; "@strResult" := '退菜成功';
END $$;

CREATE PROCEDURE "MT_Ins_Dish_Out"("@iMTNo" integer, "@cTableNo" varchar, "@cDishCode" varchar,
  "@cSortCode" varchar, "@cOpCode" varchar, "@iOpType" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
BEGIN
  SELECT o.code, o.msg INTO "@iResult", "@strResult"
    FROM qv_dish_op('out', "@iMTNo", "@cTableNo", "@cDishCode", "@cSortCode", "@cOpCode", "@iOpType") o;
END $$;

CREATE PROCEDURE "MT_Ins_Dish_Call"("@iMTNo" integer, "@cTableNo" varchar, "@cDishCode" varchar,
  "@cSortCode" varchar, "@cOpCode" varchar, "@iOpType" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
BEGIN
  SELECT o.code, o.msg INTO "@iResult", "@strResult"
    FROM qv_dish_op('call', "@iMTNo", "@cTableNo", "@cDishCode", "@cSortCode", "@cOpCode", "@iOpType") o;
END $$;

CREATE PROCEDURE "MT_Ins_Dish_Prior"("@iMTNo" integer, "@cTableNo" varchar, "@cDishCode" varchar,
  "@cSortCode" varchar, "@cOpCode" varchar, "@iOpType" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
BEGIN
  SELECT o.code, o.msg INTO "@iResult", "@strResult"
    FROM qv_dish_op('prior', "@iMTNo", "@cTableNo", "@cDishCode", "@cSortCode", "@cOpCode", "@iOpType") o;
END $$;

-- Weighed dishes: the weight becomes the line's second-unit quantity, which prices the line.
-- "@cFlowID" is the bill line number when it is numeric, else the first unweighed line is taken.
CREATE PROCEDURE "MT_Ins_Weight_Check"("@iMTNo" integer, "@cTableNo" varchar, "@cDishCode" varchar,
  "@cFlowID" varchar, "@fWeight" numeric, "@cOpCode" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
DECLARE
  v_bill varchar;
  v_code text := qv_txt("@cDishCode");
  v_flow integer := qv_int("@cFlowID", -1);
  l bill_line%ROWTYPE;
BEGIN
  IF NOT qv_op_ok("@cOpCode") THEN
    "@iResult" := 120; "@strResult" := qv_msg(120); RETURN;
  END IF;
  IF NOT qv_num_ok("@fWeight", 100000) OR "@fWeight" <= 0 THEN
    "@iResult" := 128; "@strResult" := qv_msg(128); RETURN;
  END IF;
  SELECT o.code, o.msg, o.bill_no INTO "@iResult", "@strResult", v_bill FROM qv_open_bill("@cTableNo") o;
  IF "@iResult" <> 0 THEN RETURN; END IF;
  IF v_flow > 0 THEN
    SELECT * INTO l FROM bill_line
     WHERE bill_no = v_bill AND line_no = v_flow AND dish_code = v_code AND qty > 0 FOR UPDATE;
  ELSE
    SELECT * INTO l FROM bill_line
     WHERE bill_no = v_bill AND dish_code = v_code AND qty > 0
     ORDER BY weighed, line_no LIMIT 1 FOR UPDATE;
  END IF;
  IF l.line_no IS NULL THEN
    "@iResult" := 130; "@strResult" := qv_msg(130) || ':' || v_code; RETURN;
  END IF;
  UPDATE bill_line SET db_qty = "@fWeight", db_unit = 1, weighed = true, state_time = localtimestamp(0)
   WHERE bill_no = v_bill AND line_no = l.line_no;
  INSERT INTO weight_record (bill_no, line_no, table_no, dish_code, flow_id, weight, op_code, terminal_no)
  VALUES (v_bill, l.line_no, qv_txt("@cTableNo"), v_code, left(qv_txt("@cFlowID"), 3), "@fWeight",
          qv_txt("@cOpCode"), coalesce("@iMTNo", 0));
  "@iResult" := 0;
  "@strResult" := '重量确认:' || trim_scale("@fWeight") || ' 金额:' || qv_money(round("@fWeight" * l.price, 2));
END $$;

-- ---------------------------------------------------------------- bill queries

CREATE PROCEDURE "MT_Get_Bill_Query"("@iMTNo" integer, "@cTableNo" varchar, "@cOpCode" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
DECLARE
  v_bill varchar;
  b bill%ROWTYPE;
BEGIN
  IF NOT qv_op_ok("@cOpCode") THEN
    "@iResult" := 120; "@strResult" := qv_msg(120);
  ELSE
    SELECT o.code, o.msg, o.bill_no INTO "@iResult", "@strResult", v_bill FROM qv_open_bill("@cTableNo") o;
  END IF;
  IF "@iResult" <> 0 THEN
    v_bill := NULL;
  ELSE
    SELECT * INTO b FROM bill WHERE bill_no = v_bill;
    "@strResult" := '单号' || b.bill_no || ' ' || b.people || '人 金额:' || qv_money(qv_bill_gross(v_bill))
                    || ' 应收:' || qv_money(qv_bill_net(v_bill));
  END IF;
  OPEN "@rs" FOR
    SELECT l.line_no AS "iRecNo", l.dish_code AS "cDishCode", l.dish_name AS "cDishName",
           l.unit AS "cUnit", l.spec AS "cSpec", l.qty AS "fQty", l.db_qty AS "fDbQty",
           l.price AS "fPrice", l.dish_flag AS "iDishFlag", l.gift_flag AS "iGiftFlag",
           l.dish_state AS "iDishState", l.temp_flag AS "iTempFlag", l.db_unit AS "bDbUnit"
      FROM bill_line l
     WHERE l.bill_no = v_bill AND l.qty > 0
     ORDER BY l.line_no;
END $$;

-- The lines of a bill by its number; a table number is accepted for the table's open bill.
CREATE PROCEDURE "MT_Get_Sell_Order"("@iMTNo" integer, "@cBillNo" varchar, "@cOpCode" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
DECLARE
  v_bill varchar;
BEGIN
  "@iResult" := 0; "@strResult" := '';
  IF NOT qv_op_ok("@cOpCode") THEN
    "@iResult" := 120; "@strResult" := qv_msg(120);
  ELSE
    SELECT bill_no INTO v_bill FROM bill WHERE bill_no = qv_txt("@cBillNo");
    IF v_bill IS NULL THEN
      SELECT bill_no INTO v_bill FROM dining_table WHERE table_no = qv_txt("@cBillNo") AND state = 1;
    END IF;
    IF v_bill IS NULL THEN
      "@iResult" := 139; "@strResult" := qv_msg(139) || ':' || qv_txt("@cBillNo");
    ELSE
      "@strResult" := '单号' || v_bill || ' 应收:' || qv_money(qv_bill_net(v_bill));
    END IF;
  END IF;
  OPEN "@rs" FOR
    SELECT l.line_no AS "iRecNo", l.dish_code AS "cDishCode", l.dish_name AS "cDishName",
           l.unit AS "cUnit", l.spec AS "cSpec", l.qty AS "fQty", l.db_qty AS "fDbQty",
           l.price AS "fPrice", l.dish_flag AS "cFoodFlag", l.gift_flag AS "cGiftFlag",
           l.dish_state AS "cStatusFlag", l.temp_flag AS "cTempFlag", l.db_unit AS "bDbUnit"
      FROM bill_line l
     WHERE l.bill_no = v_bill AND l.qty > 0
     ORDER BY l.line_no;
END $$;

CREATE PROCEDURE "MT_Get_Dish_GqList"("@iMTNo" integer, "@cOpCode" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
DECLARE ok boolean := qv_op_ok("@cOpCode");
BEGIN
  IF ok THEN
    "@iResult" := 0; "@strResult" := '';
  ELSE
    "@iResult" := 120; "@strResult" := qv_msg(120);
  END IF;
  OPEN "@rs" FOR
    SELECT s.dish_code AS "cDishCode", d.dish_name AS "cDishName", d.unit AS "cUnit",
           s.qty_left AS "fQty"
      FROM sold_out s JOIN dish d ON d.dish_code = s.dish_code
     WHERE ok
     ORDER BY s.dish_code;
END $$;

-- ---------------------------------------------------------------- bill operations

CREATE PROCEDURE "MT_Ins_Bill_Print"("@iMTNo" integer, "@cTableNo" varchar, "@cOpCode" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
DECLARE
  v_bill varchar;
  v_net numeric;
BEGIN
  IF NOT qv_op_ok("@cOpCode") THEN
    "@iResult" := 120; "@strResult" := qv_msg(120); RETURN;
  END IF;
  SELECT o.code, o.msg, o.bill_no INTO "@iResult", "@strResult", v_bill FROM qv_open_bill("@cTableNo") o;
  IF "@iResult" <> 0 THEN RETURN; END IF;
  IF NOT EXISTS (SELECT 1 FROM bill_line WHERE bill_no = v_bill AND qty > 0) THEN
    "@iResult" := 130; "@strResult" := qv_msg(130); RETURN;
  END IF;
  v_net := qv_bill_net(v_bill);
  UPDATE bill SET print_count = print_count + 1, amount = qv_bill_gross(v_bill), pay_amount = v_net
   WHERE bill_no = v_bill;
  INSERT INTO print_job (bill_no, table_no, amount, op_code) VALUES (v_bill, qv_txt("@cTableNo"), v_net, qv_txt("@cOpCode"));
  "@iResult" := 0; "@strResult" := '预打成功 应收:' || qv_money(v_net);
END $$;

-- Copies the remaining lines of one table's bill onto another open table (banquets).
CREATE PROCEDURE "MT_Ins_Bill_Copy"("@iMTNo" integer, "@cTableNo" varchar,
  "@cDestTableNo" varchar, "@cOpCode" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
DECLARE
  v_src text := qv_txt("@cTableNo");
  v_dst text := qv_txt("@cDestTableNo");
  s dining_table%ROWTYPE;
  d dining_table%ROWTYPE;
  v_off integer;
  n integer;
BEGIN
  IF NOT qv_op_ok("@cOpCode") THEN
    "@iResult" := 120; "@strResult" := qv_msg(120); RETURN;
  END IF;
  PERFORM 1 FROM dining_table WHERE table_no IN (v_src, v_dst) ORDER BY table_no FOR UPDATE;
  SELECT * INTO s FROM dining_table WHERE table_no = v_src;
  IF NOT FOUND THEN
    "@iResult" := 122; "@strResult" := qv_msg(122) || ':' || v_src; RETURN;
  END IF;
  IF s.state <> 1 THEN
    "@iResult" := 124; "@strResult" := qv_msg(124) || ':' || v_src; RETURN;
  END IF;
  SELECT * INTO d FROM dining_table WHERE table_no = v_dst;
  IF NOT FOUND THEN
    "@iResult" := 122; "@strResult" := '目标' || qv_msg(122) || ':' || v_dst; RETURN;
  END IF;
  IF d.table_no = s.table_no OR d.state <> 1 THEN
    "@iResult" := 131; "@strResult" := qv_msg(131) || ':' || v_dst; RETURN;
  END IF;
  PERFORM 1 FROM bill WHERE bill_no = d.bill_no FOR UPDATE;
  SELECT coalesce(max(line_no), 0) INTO v_off FROM bill_line WHERE bill_no = d.bill_no;
  INSERT INTO bill_line (bill_no, line_no, dish_code, dish_name, sort_code, unit, spec, qty, order_qty,
                         db_qty, price, dish_flag, gift_flag, dish_state, temp_flag, db_unit, memo,
                         op_code, order_time)
  SELECT d.bill_no, v_off + row_number() OVER (ORDER BY l.line_no), l.dish_code, l.dish_name,
         l.sort_code, l.unit, l.spec, l.qty, l.qty, l.db_qty, l.price, l.dish_flag, l.gift_flag,
         l.dish_state, l.temp_flag, l.db_unit, l.memo, qv_txt("@cOpCode"), localtimestamp(0)
    FROM bill_line l WHERE l.bill_no = s.bill_no AND l.qty > 0;
  GET DIAGNOSTICS n = ROW_COUNT;
  IF n = 0 THEN
    "@iResult" := 130; "@strResult" := qv_msg(130); RETURN;
  END IF;
  INSERT INTO table_op_log (op_kind, table_no, dest_table, bill_no, detail, op_code, terminal_no)
  VALUES ('copy', s.table_no, d.table_no, d.bill_no, n || ' lines from ' || s.bill_no,
          qv_txt("@cOpCode"), coalesce("@iMTNo", 0));
  "@iResult" := 0; "@strResult" := '复制成功,共' || n || '道';
END $$;

-- cDiscFlag '0' removes the discount, '1' applies "@iDiscRate" (percent payable, 1..100)
-- to the whole bill, '2' applies the plan "@cPlanCode". The operator's min_rate bounds both.
CREATE PROCEDURE "MT_Ins_Bill_Disc"("@iMTNo" integer, "@cTableNo" varchar, "@cDiscFlag" varchar,
  "@iDiscRate" varchar, "@cPlanCode" varchar, "@cOpCode" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
DECLARE
  o operator%ROWTYPE;
  v_bill varchar;
  v_flag text := qv_txt("@cDiscFlag");
  v_rate integer := qv_int("@iDiscRate", -1);
  p disc_plan%ROWTYPE;
  v_min integer;
BEGIN
  SELECT * INTO o FROM operator WHERE op_code = qv_txt("@cOpCode") AND active;
  IF NOT FOUND THEN
    "@iResult" := 120; "@strResult" := qv_msg(120); RETURN;
  END IF;
  SELECT q.code, q.msg, q.bill_no INTO "@iResult", "@strResult", v_bill FROM qv_open_bill("@cTableNo") q;
  IF "@iResult" <> 0 THEN RETURN; END IF;
  IF v_flag = '0' THEN
    UPDATE bill SET disc_flag = '0', disc_rate = 100, plan_code = '', disc_op = o.op_code
     WHERE bill_no = v_bill;
  ELSIF v_flag = '1' THEN
    IF v_rate < 1 OR v_rate > 100 THEN
      "@iResult" := 143; "@strResult" := qv_msg(143); RETURN;
    END IF;
    IF v_rate < o.min_rate THEN
      "@iResult" := 133; "@strResult" := qv_msg(133) || '(最低' || o.min_rate || ')'; RETURN;
    END IF;
    UPDATE bill SET disc_flag = '1', disc_rate = v_rate, plan_code = '', disc_op = o.op_code
     WHERE bill_no = v_bill;
  ELSIF v_flag = '2' THEN
    SELECT * INTO p FROM disc_plan WHERE plan_code = qv_txt("@cPlanCode") AND active;
    IF NOT FOUND THEN
      "@iResult" := 134; "@strResult" := qv_msg(134) || ':' || qv_txt("@cPlanCode"); RETURN;
    END IF;
    SELECT least(p.rate, coalesce(min(rate), 100)) INTO v_min FROM disc_plan_sort WHERE plan_code = p.plan_code;
    IF v_min < o.min_rate THEN
      "@iResult" := 133; "@strResult" := qv_msg(133) || '(最低' || o.min_rate || ')'; RETURN;
    END IF;
    UPDATE bill SET disc_flag = '2', disc_rate = 100, plan_code = p.plan_code, disc_op = o.op_code
     WHERE bill_no = v_bill;
  ELSE
    "@iResult" := 142; "@strResult" := qv_msg(142); RETURN;
  END IF;
  INSERT INTO table_op_log (op_kind, table_no, bill_no, detail, op_code, terminal_no)
  VALUES ('disc', qv_txt("@cTableNo"), v_bill, left(v_flag || ' ' || qv_txt("@iDiscRate") || ' ' || qv_txt("@cPlanCode"), 60),
          o.op_code, coalesce("@iMTNo", 0));
  "@iResult" := 0;
  "@strResult" := '打折成功 金额:' || qv_money(qv_bill_gross(v_bill)) || ' 应收:' || qv_money(qv_bill_net(v_bill));
END $$;

-- "@cValue" is a card number or a phone number.
CREATE PROCEDURE "MT_Ins_Vip_Query"("@iMTNo" integer, "@cValue" varchar, "@cOpCode" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
DECLARE m member%ROWTYPE;
BEGIN
  IF NOT qv_op_ok("@cOpCode") THEN
    "@iResult" := 120; "@strResult" := qv_msg(120); RETURN;
  END IF;
  SELECT * INTO m FROM member
   WHERE active AND qv_txt("@cValue") <> '' AND (card_no = qv_txt("@cValue") OR phone = qv_txt("@cValue"))
   ORDER BY card_no = qv_txt("@cValue") DESC LIMIT 1;
  IF NOT FOUND THEN
    "@iResult" := 135; "@strResult" := qv_msg(135) || ':' || qv_txt("@cValue"); RETURN;
  END IF;
  "@iResult" := 0;
  "@strResult" := qv_clip(m.card_no || ' ' || m.member_name || ' ' || m.level_name || ' 余额:' || qv_money(m.balance)
                          || ' 积分:' || m.points || ' 折扣:' || m.disc_rate, 200);
END $$;

CREATE PROCEDURE "MT_Ins_Bill_Check"("@iMTNo" integer, "@cTableNo" varchar, "@cOpCode" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
DECLARE
  o operator%ROWTYPE;
  v_bill varchar;
  v_gross numeric;
  v_net numeric;
BEGIN
  SELECT * INTO o FROM operator WHERE op_code = qv_txt("@cOpCode") AND active;
  IF NOT FOUND THEN
    "@iResult" := 120; "@strResult" := qv_msg(120); RETURN;
  END IF;
  IF NOT o.can_check THEN
    "@iResult" := 140; "@strResult" := qv_msg(140); RETURN;
  END IF;
  SELECT q.code, q.msg, q.bill_no INTO "@iResult", "@strResult", v_bill FROM qv_open_bill("@cTableNo") q;
  IF "@iResult" <> 0 THEN RETURN; END IF;
  v_gross := qv_bill_gross(v_bill);
  v_net := qv_bill_net(v_bill);
  UPDATE bill SET state = 1, close_time = localtimestamp(0), amount = v_gross, pay_amount = v_net,
         check_op = o.op_code
   WHERE bill_no = v_bill;
  UPDATE dining_table SET state = 0, people = 0, waiter_code = '', memo = '', bill_no = NULL,
         state_time = localtimestamp(0)
   WHERE table_no = qv_txt("@cTableNo");
  INSERT INTO table_op_log (op_kind, table_no, bill_no, detail, op_code, terminal_no)
  VALUES ('check', qv_txt("@cTableNo"), v_bill, 'paid ' || qv_money(v_net), o.op_code, coalesce("@iMTNo", 0));
  "@iResult" := 0; "@strResult" := '结账成功 应收:' || qv_money(v_net);
END $$;

-- ---------------------------------------------------------------- stocktaking

-- Open stocktaking batches of the shop, newest first.
CREATE PROCEDURE "pda_get_batchno_info"("@iPDANo" integer, "@cShopNo" varchar, "@iBillType" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
DECLARE v_shop text := qv_txt("@cShopNo");
BEGIN
  SELECT c.code, c.msg INTO "@iResult", "@strResult" FROM qv_shop_check(v_shop) c;
  IF "@iResult" = 0 AND NOT EXISTS (SELECT 1 FROM stock_batch WHERE shop_code = v_shop AND state = 0) THEN
    "@iResult" := 102; "@strResult" := qv_msg(102);
  END IF;
  OPEN "@rs" FOR
    SELECT b.batch_no AS "cBatchno"
      FROM stock_batch b
     WHERE "@iResult" = 0 AND b.shop_code = v_shop AND b.state = 0
     ORDER BY b.created DESC, b.batch_no DESC;
END $$;

-- Goods by goods code, barcode or the shop's own code (cCodeType 0, 1, 2 says which matched).
-- fQty is the book stock, fRefQty what the open batches of the shop have counted so far.
CREATE PROCEDURE "pda_get_goods_info"("@iPDANo" integer, "@cShopNo" varchar, "@cStrCode" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
DECLARE
  v_shop text := qv_txt("@cShopNo");
  v_code text := qv_txt("@cStrCode");
  g goods%ROWTYPE;
  v_type integer;
BEGIN
  SELECT c.code, c.msg INTO "@iResult", "@strResult" FROM qv_shop_check(v_shop) c;
  IF "@iResult" = 0 AND v_code = '' THEN
    "@iResult" := 104; "@strResult" := qv_msg(104);
  END IF;
  IF "@iResult" = 0 THEN
    SELECT * INTO g FROM goods WHERE goods_code = v_code;
    v_type := 0;
    IF NOT FOUND THEN
      SELECT * INTO g FROM goods WHERE barcode = v_code ORDER BY goods_code LIMIT 1;
      v_type := 1;
    END IF;
    IF g.goods_code IS NULL THEN
      SELECT * INTO g FROM goods WHERE def_code = v_code ORDER BY goods_code LIMIT 1;
      v_type := 2;
    END IF;
    IF g.goods_code IS NULL THEN
      "@iResult" := 105; "@strResult" := qv_msg(105) || ':' || v_code;
    END IF;
  END IF;
  OPEN "@rs" FOR
    SELECT coalesce(g.supplier_code, '')::varchar AS "cSupplyCode", g.goods_code AS "cStrCode",
           g.def_code AS "cDefCode", g.goods_name AS "cstrName", v_type AS "cCodeType",
           g.unit AS "cUnit", g.stock_qty AS "fQty",
           (SELECT coalesce(sum(x.qty), 0) FROM (
               SELECT l.qty FROM stock_bill_line l JOIN stock_bill b ON b.bill_id = l.bill_id
                 JOIN stock_batch sb ON sb.shop_code = b.shop_code AND sb.batch_no = b.bill_no AND sb.state = 0
                WHERE b.shop_code = v_shop AND b.bill_type = 0 AND l.goods_code = g.goods_code
               UNION ALL
               SELECT p.qty FROM pda_bill_pending p JOIN stock_bill b ON b.bill_id = p.bill_id
                 JOIN stock_batch sb ON sb.shop_code = b.shop_code AND sb.batch_no = b.bill_no AND sb.state = 0
                WHERE b.shop_code = v_shop AND b.bill_type = 0 AND p.goods_code = g.goods_code) x
           ) AS "fRefQty",
           0 AS "iBillType", g.in_price AS "fInPrice", g.sale_price AS "fSalePrice"
     WHERE "@iResult" = 0;
END $$;

-- One uploaded document line into the pending area. Key: shop, bill type, bill number,
-- terminal (the header) + goods code + supplier code (the line). The same line again
-- replaces quantity and price, so a resent frame does not double anything.
CREATE PROCEDURE "pda_ins_bill_inf"("@iPDANo" integer, "@cShopNo" varchar, "@iBillType" integer,
  "@cBillNO" varchar, "@cSupplyCode" varchar, "@cStrCode" varchar, "@fQty" numeric, "@fPrice" numeric,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
DECLARE
  v_shop text := qv_txt("@cShopNo");
  v_bill text := qv_txt("@cBillNO");
  v_code text := qv_txt("@cStrCode");
  v_supp text := left(qv_txt("@cSupplyCode"), 10);
  v_goods text;
  v_id bigint;
  v_state smallint;
  bt stock_batch%ROWTYPE;
BEGIN
  SELECT c.code, c.msg INTO "@iResult", "@strResult" FROM qv_shop_check(v_shop) c;
  IF "@iResult" <> 0 THEN RETURN; END IF;
  IF coalesce("@iBillType", -1) NOT BETWEEN 0 AND 3 THEN
    "@iResult" := 101; "@strResult" := qv_msg(101); RETURN;
  END IF;
  IF v_bill = '' THEN
    "@iResult" := 103; "@strResult" := qv_msg(103); RETURN;
  END IF;
  IF length(v_bill) > 15 THEN
    "@iResult" := 103; "@strResult" := '单据号过长:' || v_bill; RETURN;
  END IF;
  IF v_code = '' THEN
    "@iResult" := 104; "@strResult" := qv_msg(104); RETURN;
  END IF;
  SELECT goods_code INTO v_goods FROM goods WHERE goods_code = v_code;
  IF v_goods IS NULL THEN
    SELECT goods_code INTO v_goods FROM goods WHERE barcode = v_code ORDER BY goods_code LIMIT 1;
  END IF;
  IF v_goods IS NULL THEN
    SELECT goods_code INTO v_goods FROM goods WHERE def_code = v_code ORDER BY goods_code LIMIT 1;
  END IF;
  IF v_goods IS NULL THEN
    "@iResult" := 105; "@strResult" := qv_msg(105) || ':' || v_code; RETURN;
  END IF;
  IF NOT qv_num_ok("@fQty", 100000000) THEN
    "@iResult" := 106; "@strResult" := qv_msg(106); RETURN;
  END IF;
  IF NOT qv_num_ok("@fPrice", 1000000000) OR "@fPrice" < 0 THEN
    "@iResult" := 144; "@strResult" := qv_msg(144); RETURN;
  END IF;
  -- a stocktaking sheet is numbered by its batch
  IF "@iBillType" = 0 THEN
    SELECT * INTO bt FROM stock_batch WHERE shop_code = v_shop AND batch_no = v_bill;
    IF NOT FOUND THEN
      "@iResult" := 109; "@strResult" := qv_msg(109) || ':' || v_bill; RETURN;
    END IF;
    IF bt.state <> 0 THEN
      "@iResult" := 110; "@strResult" := qv_msg(110); RETURN;
    END IF;
  END IF;

  INSERT INTO stock_bill (shop_code, bill_type, bill_no, terminal_no, batch_no, supplier_code)
  VALUES (v_shop, "@iBillType", v_bill, coalesce("@iPDANo", 0),
          CASE WHEN "@iBillType" = 0 THEN v_bill ELSE '' END, v_supp)
  ON CONFLICT (shop_code, bill_type, bill_no, terminal_no) DO NOTHING;
  SELECT bill_id, state INTO v_id, v_state FROM stock_bill
   WHERE shop_code = v_shop AND bill_type = "@iBillType" AND bill_no = v_bill
     AND terminal_no = coalesce("@iPDANo", 0)
   FOR UPDATE;
  IF v_id IS NULL THEN
    "@iResult" := 112; "@strResult" := qv_msg(112); RETURN;
  END IF;
  IF v_state = 2 THEN
    "@iResult" := 117; "@strResult" := qv_msg(117); RETURN;
  END IF;
  INSERT INTO pda_bill_pending (bill_id, goods_code, supply_code, qty, price, scan_code)
  VALUES (v_id, v_goods, v_supp, "@fQty", round("@fPrice", 2), left(v_code, 30))
  ON CONFLICT (bill_id, goods_code, supply_code)
  DO UPDATE SET qty = EXCLUDED.qty, price = EXCLUDED.price, scan_code = EXCLUDED.scan_code,
                received = localtimestamp(0);
  IF v_state = 1 THEN
    UPDATE stock_bill SET state = 0 WHERE bill_id = v_id;
  END IF;
  "@iResult" := 0; "@strResult" := '保存成功';
END $$;

-- Posts a document: its pending lines replace or join the posted lines (same key as the
-- pending area) and are removed from the pending area. Posting again moves nothing and
-- changes nothing. Receipts add the change in quantity to stock, issues take it off.
CREATE PROCEDURE "pda_bat_bill_inf"("@iPDANo" integer, "@cShopNo" varchar, "@iBillType" integer,
  "@cBatchno" varchar, "@cBillNO" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
DECLARE
  v_shop text := qv_txt("@cShopNo");
  v_bill text := qv_txt("@cBillNO");
  v_batch text := qv_txt("@cBatchno");
  h stock_bill%ROWTYPE;
  bt stock_batch%ROWTYPE;
  p record;
  v_old numeric;
  v_next integer;
  n integer := 0;
BEGIN
  SELECT c.code, c.msg INTO "@iResult", "@strResult" FROM qv_shop_check(v_shop) c;
  IF "@iResult" <> 0 THEN RETURN; END IF;
  IF coalesce("@iBillType", -1) NOT BETWEEN 0 AND 3 THEN
    "@iResult" := 101; "@strResult" := qv_msg(101); RETURN;
  END IF;
  IF v_bill = '' THEN
    "@iResult" := 103; "@strResult" := qv_msg(103); RETURN;
  END IF;
  IF "@iBillType" = 0 THEN
    IF v_batch = '' THEN
      "@iResult" := 108; "@strResult" := qv_msg(108); RETURN;
    END IF;
    SELECT * INTO bt FROM stock_batch WHERE shop_code = v_shop AND batch_no = v_batch;
    IF NOT FOUND THEN
      "@iResult" := 109; "@strResult" := qv_msg(109) || ':' || v_batch; RETURN;
    END IF;
    IF bt.state <> 0 THEN
      "@iResult" := 110; "@strResult" := qv_msg(110); RETURN;
    END IF;
  END IF;
  SELECT * INTO h FROM stock_bill
   WHERE shop_code = v_shop AND bill_type = "@iBillType" AND bill_no = v_bill
     AND terminal_no = coalesce("@iPDANo", 0)
   FOR UPDATE;
  IF NOT FOUND THEN
    "@iResult" := 115; "@strResult" := qv_msg(115) || ':' || v_bill; RETURN;
  END IF;
  IF h.state = 2 THEN
    "@iResult" := 117; "@strResult" := qv_msg(117); RETURN;
  END IF;

  SELECT coalesce(max(line_no), 0) INTO v_next FROM stock_bill_line WHERE bill_id = h.bill_id;
  FOR p IN SELECT * FROM pda_bill_pending WHERE bill_id = h.bill_id ORDER BY received, goods_code FOR UPDATE
  LOOP
    SELECT qty INTO v_old FROM stock_bill_line
     WHERE bill_id = h.bill_id AND goods_code = p.goods_code AND supply_code = p.supply_code;
    IF FOUND THEN
      UPDATE stock_bill_line SET qty = p.qty, price = p.price, posted = localtimestamp(0)
       WHERE bill_id = h.bill_id AND goods_code = p.goods_code AND supply_code = p.supply_code;
    ELSE
      v_old := 0;
      v_next := v_next + 1;
      INSERT INTO stock_bill_line (bill_id, line_no, goods_code, supply_code, qty, price)
      VALUES (h.bill_id, v_next, p.goods_code, p.supply_code, p.qty, p.price);
    END IF;
    IF "@iBillType" = 2 THEN
      UPDATE goods SET stock_qty = stock_qty + (p.qty - v_old) WHERE goods_code = p.goods_code;
    ELSIF "@iBillType" = 1 THEN
      UPDATE goods SET stock_qty = stock_qty - (p.qty - v_old) WHERE goods_code = p.goods_code;
    END IF;
    n := n + 1;
  END LOOP;
  DELETE FROM pda_bill_pending WHERE bill_id = h.bill_id;

  IF n = 0 AND h.state = 1 THEN
    "@iResult" := 0; "@strResult" := '单据已过账:' || v_bill; RETURN;
  END IF;
  UPDATE stock_bill SET state = 1, posted = localtimestamp(0), post_count = post_count + 1,
         batch_no = CASE WHEN "@iBillType" = 0 THEN v_batch ELSE batch_no END
   WHERE bill_id = h.bill_id;
  INSERT INTO stock_post_log (bill_id, lines_moved) VALUES (h.bill_id, n);
  "@iResult" := 0; "@strResult" := '过账成功:' || v_bill || ',' || n || '行';
END $$;

-- Posted documents of a type, optionally of one supplier, for the terminal to work on.
CREATE PROCEDURE "pda_get_bill_list"("@iPDANo" integer, "@cShopNo" varchar, "@iBillType" integer,
  "@cStrCode" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
DECLARE
  v_shop text := qv_txt("@cShopNo");
  v_supp text := qv_txt("@cStrCode");
BEGIN
  SELECT c.code, c.msg INTO "@iResult", "@strResult" FROM qv_shop_check(v_shop) c;
  IF "@iResult" = 0 AND coalesce("@iBillType", -1) NOT BETWEEN 0 AND 3 THEN
    "@iResult" := 101; "@strResult" := qv_msg(101);
  END IF;
  OPEN "@rs" FOR
    SELECT b.bill_no AS "cBillno"
      FROM stock_bill b
     WHERE "@iResult" = 0 AND b.shop_code = v_shop AND b.bill_type = "@iBillType" AND b.state = 1
       AND (v_supp = '' OR b.supplier_code = v_supp
            OR EXISTS (SELECT 1 FROM stock_bill_line l WHERE l.bill_id = b.bill_id AND l.supply_code = v_supp))
     GROUP BY b.bill_no
     ORDER BY b.bill_no;
END $$;

-- Lines of a posted document (all terminals' parts of it, summed per goods and supplier).
CREATE PROCEDURE "pda_get_bill_detail"("@iPDANo" integer, "@cShopNo" varchar, "@iBillType" integer,
  "@cBillNo" varchar,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
DECLARE
  v_shop text := qv_txt("@cShopNo");
  v_bill text := qv_txt("@cBillNo");
BEGIN
  SELECT c.code, c.msg INTO "@iResult", "@strResult" FROM qv_shop_check(v_shop) c;
  IF "@iResult" = 0 AND coalesce("@iBillType", -1) NOT BETWEEN 0 AND 3 THEN
    "@iResult" := 101; "@strResult" := qv_msg(101);
  END IF;
  IF "@iResult" = 0 AND v_bill = '' THEN
    "@iResult" := 103; "@strResult" := qv_msg(103);
  END IF;
  IF "@iResult" = 0 AND NOT EXISTS (SELECT 1 FROM stock_bill WHERE shop_code = v_shop
        AND bill_type = "@iBillType" AND bill_no = v_bill AND state >= 1) THEN
    "@iResult" := 115; "@strResult" := qv_msg(115) || ':' || v_bill;
  END IF;
  OPEN "@rs" FOR
    SELECT b.bill_no AS "cBillno", l.supply_code AS "cStrCode", l.goods_code AS "cCode",
           sum(l.qty) AS "fQty", max(l.price) AS "fPrice"
      FROM stock_bill b JOIN stock_bill_line l ON l.bill_id = b.bill_id
     WHERE "@iResult" = 0 AND b.shop_code = v_shop AND b.bill_type = "@iBillType" AND b.bill_no = v_bill
       AND b.state >= 1
     GROUP BY b.bill_no, l.supply_code, l.goods_code
     ORDER BY min(l.line_no), l.goods_code;
END $$;

-- "@iType" 1 suppliers, 2 organisations.
CREATE PROCEDURE "pda_get_org_inf"("@iPDANo" integer, "@cShopNo" varchar, "@iType" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
BEGIN
  SELECT c.code, c.msg INTO "@iResult", "@strResult" FROM qv_shop_check("@cShopNo") c;
  IF "@iResult" = 0 AND coalesce("@iType", -1) NOT IN (1, 2) THEN
    "@iResult" := 116; "@strResult" := qv_msg(116);
  END IF;
  OPEN "@rs" FOR
    SELECT x.code AS "cStrCode", x.name AS "cStrName", x.idx AS "cStrIndex"
      FROM (SELECT supplier_code AS code, supplier_name AS name, index_code AS idx, 1 AS kind FROM supplier
            UNION ALL
            SELECT org_code, org_name, index_code, 2 FROM organisation) x
     WHERE "@iResult" = 0 AND x.kind = "@iType"
     ORDER BY x.code;
END $$;

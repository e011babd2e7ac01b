// A stocktaking session end to end: two receipt notes in one upload, each posted once,
// the ePOS file, and the stocktaking queries read back from the demo database.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "DemoDb.h"
#include "TermScript.h"
#include "base/Logging.h"
#include "base/Settings.h"
#include "base/Text.h"

namespace qv::test {
namespace {

constexpr uint16_t kPdIn = 0xA300, kBatch = 0xA000, kGoods = 0xA500, kBillList = 0xA600, kBillDetail = 0xA700,
                   kVendors = 0xA800;

std::string Field(const TBytes& b, size_t off, size_t w) {
  std::string s(reinterpret_cast<const char*>(b.data() + off), w);
  s.resize(std::strlen(s.c_str()));
  return GbkToUtf8(s);
}

float SingleAt(const TBytes& b, size_t off) {
  float v;
  std::memcpy(&v, b.data() + off, 4);
  return v;
}

TEST(StockSession, TwoDocumentsInOneUploadThenTheQueries) {
  QV_NEED_DEMO_DB();
  TDemoDb db;
  const std::string shop = db.FreshKey("shop", "shop_code", "QXS", 8);
  db.Exec("INSERT INTO shop (shop_code, shop_name) VALUES (" + Lit(shop) + ", '测试门店')");
  const std::string supplier = db.FreshKey("supplier", "supplier_code", "QV", 8);
  db.Exec("INSERT INTO supplier (supplier_code, supplier_name, index_code) VALUES (" + Lit(supplier) +
          ", '测试供应商', 'CSGYS')");
  std::string goods[3];
  for (int i = 0; i < 3; ++i) {
    goods[i] = db.FreshKey("goods", "goods_code", "QG", 10);
    db.Exec(
        "INSERT INTO goods (goods_code, barcode, def_code, goods_name, unit, supplier_code, in_price, "
        "sale_price, stock_qty) VALUES (" +
        Lit(goods[i]) + ", '', 'D" + std::to_string(i) + "', '矿泉水" + std::to_string(i) + "', '瓶', " +
        Lit(supplier) + ", 1.5, 2.8, 10)");
  }
  const std::string batch = db.FreshKey("stock_batch", "batch_no", "B", 12);
  db.Exec("INSERT INTO stock_batch (batch_no, shop_code) VALUES (" + Lit(batch) + ", " + Lit(shop) + ")");
  const std::string docA = db.FreshKey("stock_bill", "bill_no", "PIA", 12);
  const std::string docB = db.FreshKey("stock_bill", "bill_no", "PIB", 12);
  const uint32_t terminal = TDemoDb::FreshTerminal();

  TTermSession s(1, terminal);
  SysSet().ShopNO = shop;
  auto rec = [&](const std::string& doc, int g, float qty, int32_t price) {
    return TPayload(60)
        .Text(0, 12, doc)
        .Text(12, 10, supplier)
        .Text(22, 30, goods[g])
        .Single(52, qty)
        .Money(56, price);
  };
  // Frame 1: A, A, B; frame 0: B, B. Document A is posted when B begins, B at the end.
  s.Request(
      kPdIn,
      TPayload().Append(rec(docA, 0, 5, 150)).Append(rec(docA, 1, 2.5f, 1200)).Append(rec(docB, 0, 1, 150)),
      1);
  s.Reply(kPdIn, 0, TPayload().Append(rec(docB, 1, 3, 1200)).Append(rec(docB, 2, 4, 99)));
  s.Reply(CMD_END);
  s.Silent();  // the closing "OK"
  s.Request(kBatch, {});
  s.AckAll();
  s.Request(kGoods, TPayload(30).Text(0, 30, goods[0]));
  s.AckAll();
  s.Request(kBillList, TPayload(11).U8(0, 2).Text(1, 10, supplier));
  s.AckAll();
  s.Request(kBillDetail, TPayload(16).U8(0, 2).Text(1, 15, docB));
  s.AckAll();
  s.Request(kVendors, {});
  s.AckAll();
  s.Run();
  EXPECT_TRUE(s.failures.empty()) << s.failures.front();
  EXPECT_TRUE(s.PcFrames(CMD_ER).empty()) << s.PcFrames(CMD_ER).front().Text();

  // Each document posted exactly once, with its lines.
  for (const auto& [doc, lines] : {std::pair{docA, 2}, std::pair{docB, 3}}) {
    const std::string id = db.Scalar("SELECT bill_id FROM stock_bill WHERE shop_code = " + Lit(shop) +
                                     " AND bill_no = " + Lit(doc));
    ASSERT_FALSE(id.empty()) << doc;
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM stock_post_log WHERE bill_id = " + id), "1") << doc;
    EXPECT_EQ(db.Scalar("SELECT state || '/' || post_count FROM stock_bill WHERE bill_id = " + id), "1/1");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM stock_bill_line WHERE bill_id = " + id), std::to_string(lines));
  }
  EXPECT_EQ(db.Scalar("SELECT stock_qty FROM goods WHERE goods_code = " + Lit(goods[0])), "16");
  // ePOS.txt holds the upload's records as their parameter texts.
  const std::string q = "\"";
  EXPECT_EQ(s.EPosLines(), (std::vector<std::string>{
                               q + docA + "\",\"" + supplier + "\",\"" + goods[0] + "\",5,1.50",
                               q + docA + "\",\"" + supplier + "\",\"" + goods[1] + "\",2.5,12.00",
                               q + docB + "\",\"" + supplier + "\",\"" + goods[0] + "\",1,1.50",
                               q + docB + "\",\"" + supplier + "\",\"" + goods[1] + "\",3,12.00",
                               q + docB + "\",\"" + supplier + "\",\"" + goods[2] + "\",4,0.99",
                           }));

  const auto ok = s.PcFrames(CMD_OK);
  ASSERT_GE(ok.size(), 8u);
  EXPECT_EQ(ok[0].frNo, 1);
  EXPECT_EQ(ok[0].Text(), "保存成功");
  EXPECT_EQ(ok[1].frNo, 0);
  EXPECT_EQ(ok[1].Text().rfind("过账成功:" + docB, 0), 0u) << ok[1].Text();
  EXPECT_TRUE(ok[2].payload.empty());  // closing the upload
  // R-BATCH: the shop's one open batch, no count prefix.
  EXPECT_EQ(ok[3].frNo, 0);
  ASSERT_EQ(ok[3].payload.size(), 12u);
  EXPECT_EQ(Field(ok[3].payload, 0, 12), batch);
  // R-GOODS: one 150-byte record.
  const TBytes& g = ok[4].payload;
  ASSERT_EQ(g.size(), 150u);
  EXPECT_EQ(Field(g, 0, 30), supplier);
  EXPECT_EQ(Field(g, 30, 30), goods[0]);
  EXPECT_EQ(Field(g, 60, 15), "D0");
  EXPECT_EQ(Field(g, 75, 40), "矿泉水0");
  EXPECT_EQ(g[115], 0);
  EXPECT_EQ(Field(g, 116, 14), "瓶");
  EXPECT_EQ(SingleAt(g, 130), 16.0f);
  EXPECT_EQ(static_cast<int32_t>(GetU32(g.data() + 142)), 150);
  EXPECT_EQ(static_cast<int32_t>(GetU32(g.data() + 146)), 280);
  // R-BILLLIST: both documents of the supplier.
  const TBytes& list = ok[5].payload;
  ASSERT_EQ(list.size(), 4u + 2 * 15);
  EXPECT_EQ(GetU32(list.data()), 2u);
  EXPECT_EQ((std::set<std::string>{Field(list, 4, 15), Field(list, 19, 15)}),
            (std::set<std::string>{docA, docB}));
  // R-BILLDETAIL: document B's three lines.
  const TBytes& detail = ok[6].payload;
  ASSERT_EQ(detail.size(), 4u + 3 * 60);
  EXPECT_EQ(GetU32(detail.data()), 3u);
  // Lines are posted in goods-code order when they arrive within one second.
  std::map<std::string, std::pair<float, int32_t>> lines;
  for (size_t at = 4; at < detail.size(); at += 60) {
    EXPECT_EQ(Field(detail, at, 12), docB);
    EXPECT_EQ(Field(detail, at + 12, 10), supplier);
    lines[Field(detail, at + 22, 30)] = {SingleAt(detail, at + 52),
                                         static_cast<int32_t>(GetU32(detail.data() + at + 56))};
  }
  EXPECT_EQ(lines, (std::map<std::string, std::pair<float, int32_t>>{
                       {goods[0], {1.0f, 150}}, {goods[1], {3.0f, 1200}}, {goods[2], {4.0f, 99}}}));
  // R-VENDORINF: every supplier, two per frame, numbered 1, 2, ... and 0; ours among them.
  std::vector<TPcFrame> vendors(ok.begin() + 7, ok.end());
  const uint32_t total = GetU32(vendors[0].payload.data());
  ASSERT_EQ(vendors.size(), (total + 1) / 2);
  int ours = 0;
  for (size_t i = 0; i < vendors.size(); ++i) {
    EXPECT_EQ(vendors[i].frNo, i + 1 == vendors.size() ? 0 : static_cast<int>(i % 255) + 1);
    const TBytes& p = vendors[i].payload;
    EXPECT_EQ(GetU32(p.data()), total);
    for (size_t at = 4; at + 80 <= p.size(); at += 80)
      if (Field(p, at, 10) == supplier) {
        ++ours;
        EXPECT_EQ(Field(p, at + 10, 60), "测试供应商");
        EXPECT_EQ(Field(p, at + 70, 10), "CSGYS");
      }
  }
  EXPECT_EQ(ours, 1);
  EXPECT_EQ(s.DayLog().size(), 6u);
}

}  // namespace
}  // namespace qv::test

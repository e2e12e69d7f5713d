// Sample bill exports for tests, written from the published layouts with made-up names and numbers.
// Literals here are GBK (test targets compile with a GBK execution charset).
#pragma once

#include <string>
#include <vector>

#include "ledger/import/xlsx_test_writer.h"
#include "platform/gbk.h"

namespace pennacle::testing {

struct SampleRow {
  std::string time, category, counterpart, goods, direction, amount, status, order, merchant;  // GBK
};

// Cells padded as the Alipay export pads them.
inline std::string padded(const std::string& s) { return s + "    "; }

// Since 2023: a preamble of about 24 lines, a dash line around "电子客户回单", then the header.
inline std::string alipay_2023_csv(const std::vector<SampleRow>& rows) {
  std::string s =
      "------------------------------------------------------------------------------------\r\n"
      "导出信息：\r\n姓名：王小明\r\n支付宝账户：wxm***@example.com\r\n"
      "起始时间：[2023-01-01 00:00:00]    终止时间：[2023-03-31 23:59:59]\r\n"
      "导出交易类型：[全部]\r\n导出时间：[2023-04-01 10:00:00]\r\n共" +
      std::to_string(rows.size()) +
      "笔记录\r\n收入：1笔 100.00元\r\n支出：3笔 262.66元\r\n不计收支：2笔 209.00元\r\n\r\n"
      "特别提示：\r\n1.本回单内容可表明支付宝受理了相关交易申请，不代表交易已成功；\r\n"
      "2.本回单内容仅供参考，如有疑问请联系客服；\r\n3.请勿将本回单用于非法用途；\r\n"
      "4.本回单一经打印，即视为已获得回单；\r\n5.\"收/支\"一栏为\"不计收支\"的，不计入收入和支出；\r\n"
      "6.本回单由系统生成；\r\n7.示例文字，与真实回单无关。\r\n\r\n\r\n\r\n"
      "------------------------支付宝（中国）网络技术有限公司  电子客户回单------------------------\r\n"
      "交易时间,交易分类,交易对方,对方账号,商品说明,收/支,金额,收/"
      "付款方式,交易状态,交易订单号,商家订单号,备注,\r\n";
  for (const SampleRow& r : rows) {
    s += r.time + "," + padded(r.category) + "," + padded(r.counterpart) + ",138****0000," + padded(r.goods) +
         "," + r.direction + "," + padded(r.amount) + ",余额宝," + padded(r.status) + "," + r.order + "\t," +
         r.merchant + "\t,,\r\n";
  }
  return s;
}

// The PC web export: 16 columns, "金额（元）", a dash line before and after the bills, a footer.
inline std::string alipay_pc_csv(const std::vector<SampleRow>& rows) {
  std::string s =
      "支付宝交易记录明细查询\r\n账号:[20880000000000000156]\r\n"
      "起始日期:[2016-01-01 00:00:00]    终止日期:[2016-12-31 00:00:00]\r\n"
      "---------------------------------交易记录明细列表------------------------------------\r\n"
      "交易号              ,商家订单号          ,交易创建时间        ,付款时间            ,最近修改时间      "
      "  ,"
      "交易来源地     ,类型              ,交易对方            ,商品名称                ,金额（元）   ,收/支  "
      "   ,"
      "交易状态    ,服务费（元）   ,成功退款（元）  ,备注                  ,资金状态     ,\r\n";
  for (const SampleRow& r : rows) {
    s += padded(r.order) + "," + padded(r.merchant) + "," + r.time + "," + r.time + "," + r.time +
         ",其他（包括阿里巴巴和外部商家）," + padded(r.category) + "," + padded(r.counterpart) + "," +
         padded(r.goods) + "," + padded(r.amount) + "," + padded(r.direction) + "," + padded(r.status) +
         ",0.00,0.00,,已支出,\r\n";
  }
  s += "------------------------------------------------------------------------------------\r\n"
       "共" +
       std::to_string(rows.size()) +
       "笔记录\r\n已收入:1笔,100.00元\r\n待收入:0笔,0.00元\r\n"
       "已支出:3笔,262.66元\r\n待支出:0笔,0.00元\r\n导出时间:[2017-01-01 10:00:00]    用户:王小明\r\n";
  return s;
}

// The app's export of 2021-22: another column order, the summary below the bills.
inline std::string alipay_app_csv(const std::vector<SampleRow>& rows) {
  std::string s =
      "支付宝交易明细\r\n"
      "收/支,交易对方,对方账号,商品说明,收/"
      "付款方式,金额,交易状态,交易分类,交易订单号,商家订单号,交易时间,\r\n";
  for (const SampleRow& r : rows) {
    s += r.direction + "," + r.counterpart + ",,\"" + r.goods + "\",花呗," + r.amount + "," + r.status + "," +
         r.category + "," + r.order + "\t," + r.merchant + "\t," + r.time + ",\r\n";
  }
  s += "\r\n共" + std::to_string(rows.size()) +
       "笔记录\r\n收入：1笔 100.00元\r\n支出：3笔 262.66元\r\n"
       "导出时间：[2022-06-30 12:00:00]\r\n";
  return s;
}

inline std::string u8(const std::string& gbk) { return gbk_to_utf8(gbk).value(); }

// UTF-8 with a byte-order mark, 16 preamble lines and a separator; quoted and unquoted cells,
// "¥" and "￥" amounts, order numbers ending in a tab.
inline std::string wechat_csv(const std::vector<SampleRow>& rows) {
  std::string s =
      "\xEF\xBB\xBF" +
      u8("微信支付账单明细,,,,,,,,,,\n微信昵称：[阿明],,,,,,,,,,\n"
         "起始时间：[2023-01-01 00:00:00] 终止时间：[2023-03-31 23:59:59],,,,,,,,,,\n"
         "导出类型：[全部],,,,,,,,,,\n导出时间：[2023-04-01 10:00:00],,,,,,,,,,\n"
         ",,,,,,,,,,\n共7笔记录,,,,,,,,,,\n收入：2笔 299.00元,,,,,,,,,,\n"
         "支出：4笔 262.66元,,,,,,,,,,\n中性交易：2笔 150.00元,,,,,,,,,,\n"
         "注：,,,,,,,,,,\n1. 充值/提现/理财通购买/信用卡还款等交易，将计入中性交易,,,,,,,,,,\n"
         "2. 本明细仅展示当前账单中的交易,,,,,,,,,,\n3. 示例文字,,,,,,,,,,\n,,,,,,,,,,\n"
         "----------------------微信支付账单明细列表--------------------,,,,,,,,,,\n"
         "交易时间,交易类型,交易对方,商品,收/支,金额(元),支付方式,当前状态,交易单号,商户单号,备注\n");
  for (size_t i = 0; i < rows.size(); ++i) {
    const SampleRow& r = rows[i];
    const std::string yen = i % 2 ? "\xEF\xBF\xA5" : "\xC2\xA5";  // "￥" and "¥"
    s += r.time + "," + u8(r.category) + ",\"" + u8(r.counterpart) + "\",\"" + u8(r.goods) + "\"," +
         u8(r.direction) + "," + yen + r.amount + "," + u8("零钱") + "," + u8(r.status) + "," + r.order +
         "\t," + r.merchant + "\t,\"/\"\n";
  }
  return s;
}

// The same rows as a worksheet's cells. Amounts as numbers; times as date serials where `serials`
// gives one for the row, else as text.
inline std::vector<std::vector<XlsxCell>> wechat_sheet(const std::vector<SampleRow>& rows,
                                                       const std::vector<std::string>& serials = {}) {
  std::vector<std::vector<XlsxCell>> sheet;
  for (const char* line :
       {"微信支付账单明细", "微信昵称：[阿明]", "起始时间：[2023-01-01 00:00:00]", "导出类型：[全部]",
        "导出时间：[2023-04-01 10:00:00]", "", "共7笔记录", "收入：2笔 299.00元", "支出：4笔 262.66元",
        "中性交易：2笔 150.00元", "注：", "1. 充值/提现等交易，将计入中性交易", "2. 示例文字", "", "",
        "----------------------微信支付账单明细列表--------------------"}) {
    sheet.push_back({{u8(line), XlsxCell::Kind::Inline}});
  }
  std::vector<XlsxCell> header;
  for (const char* h : {"交易时间", "交易类型", "交易对方", "商品", "收/支", "金额(元)", "支付方式",
                        "当前状态", "交易单号", "商户单号", "备注"}) {
    header.push_back({u8(h), XlsxCell::Kind::Shared});
  }
  sheet.push_back(header);
  for (size_t i = 0; i < rows.size(); ++i) {
    const SampleRow& r = rows[i];
    const bool serial = i < serials.size() && !serials[i].empty();
    sheet.push_back({{serial ? serials[i] : r.time, serial ? XlsxCell::Kind::Number : XlsxCell::Kind::Shared},
                     {u8(r.category), XlsxCell::Kind::Shared},
                     {u8(r.counterpart), XlsxCell::Kind::Inline},
                     {u8(r.goods), XlsxCell::Kind::Shared},
                     {u8(r.direction), XlsxCell::Kind::Shared},
                     {r.amount, XlsxCell::Kind::Number},
                     {u8("零钱"), XlsxCell::Kind::Shared},
                     {u8(r.status), XlsxCell::Kind::Shared},
                     {r.order + "\t", XlsxCell::Kind::Inline},
                     {r.merchant, XlsxCell::Kind::Inline},
                     {"/", XlsxCell::Kind::Shared}});
  }
  return sheet;
}

// The same rows as a workbook of one sheet (see wechat_sheet).
inline std::string wechat_xlsx(const std::vector<SampleRow>& rows,
                               const std::vector<std::string>& serials = {}) {
  return make_xlsx(wechat_sheet(rows, serials));
}

// Alipay rows: a payment, an income, a neutral transfer, a closed payment nobody paid, a closed
// payment that a refund refunds, and that refund (neutral by its 收/支, income by its nature).
inline std::vector<SampleRow> alipay_rows() {
  return {{"2023-03-01 12:30:45", "餐饮美食", "示例餐厅", "午餐套餐", "支出", "28.16", "交易成功",
           "2023030122001400001000000001", "T20230301000001"},
          {"2023-03-02 08:00:00", "转账红包", "李小红", "还款", "收入", "100.00", "交易成功",
           "2023030222001400001000000002", ""},
          {"2023-03-03 09:15:00", "投资理财", "余额宝", "余额宝-单次转入", "不计收支", "150.00", "交易成功",
           "2023030322001400001000000003", ""},
          {"2023-03-04 10:00:00", "日用百货", "示例书店", "图书一本", "支出", "35.50", "交易关闭",
           "2023030422001400001000000004", "T20230304000004"},
          {"2023-03-05 11:20:00", "数码电器", "示例商城", "蓝牙耳机", "支出", "199.00", "交易关闭",
           "2023030522001400001000000005", "T20230305000005"},
          {"2023-03-06 16:40:00", "退款", "示例商城", "退款-蓝牙耳机", "不计收支", "199.00", "退款成功",
           "2023030522001400001000000005_1678090000", "T20230305000005"},
          {"2023-03-07 19:05:09", "交通出行", "示例出行", "快车 4.2公里", "支出", "35.50", "交易成功",
           "2023030722001400001000000007", "T20230307000007"}};
}

// WeChat rows: a payment, an income, a withdrawal and a card repayment (neutral), a failed payment,
// a payment refunded in full and its refund.
inline std::vector<SampleRow> wechat_rows() {
  return {{"2023-03-01 12:30:45", "商户消费", "示例超市", "商品A", "支出", "28.16", "支付成功",
           "4200001000202303011000000001", "10000001"},
          {"2023-03-02 08:00:00", "转账", "李小红", "转账备注:还钱", "收入", "100.00", "已存入零钱",
           "1000050001202303020000000002", "/"},
          {"2023-03-03 09:00:00", "零钱提现", "示例银行(1234)", "/", "/", "50.00", "提现已到账",
           "1330000001202303030000000003", "/"},
          {"2023-03-04 10:00:00", "商户消费", "示例书店", "图书一本", "支出", "35.50", "支付失败",
           "4200001000202303041000000004", "10000004"},
          {"2023-03-05 11:20:00", "商户消费", "示例商城", "蓝牙耳机", "支出", "199.00", "已全额退款",
           "4200001000202303051000000005", "10000005"},
          {"2023-03-06 16:40:00", "示例商城-退款", "示例商城", "退款-蓝牙耳机", "收入", "199.00", "已退款",
           "5030001000202303061000000006", "10000005"},
          {"2023-03-07 20:00:00", "信用卡还款", "示例银行", "/", "/", "100.00", "支付成功",
           "1000039901202303070000000007", "/"}};
}

// `n` plain payments with distinct order numbers, from number `first` on, a minute apart.
inline std::vector<SampleRow> many_rows(int first, int n) {
  std::vector<SampleRow> rows;
  for (int i = first; i < first + n; ++i) {
    char time[32], amount[16], order[40];
    std::snprintf(time, sizeof time, "2023-04-%02d %02d:%02d:00", 1 + i / 1440, i / 60 % 24, i % 60);
    std::snprintf(amount, sizeof amount, "%d.%02d", 1 + i % 97, i % 100);
    std::snprintf(order, sizeof order, "20230401220014000020%08d", i);
    rows.push_back({time, "餐饮美食", "示例商户" + std::to_string(i), "商品" + std::to_string(i), "支出",
                    amount, "交易成功", order, ""});
  }
  return rows;
}

}  // namespace pennacle::testing

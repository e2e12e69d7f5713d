// The Alipay export the import benchmarks read: row i a payment or an income every second, each with
// its own order number.
#pragma once

#include <cstdio>
#include <string>

#include "ledger/import/export_samples.h"

namespace pennacle::bench {

inline testing::SampleRow export_row(int i) {
  char time[32], amount[32], order[40];
  const int day = i / 86400, second = i % 86400;
  std::snprintf(time, sizeof time, "2023-%02d-%02d %02d:%02d:%02d", 1 + day / 28 % 12, 1 + day % 28,
                second / 3600, second / 60 % 60, second % 60);
  std::snprintf(amount, sizeof amount, "%d.%02d", 1 + i % 500, i % 100);
  std::snprintf(order, sizeof order, "2023%020d", i);
  const bool income = i % 7 == 0;
  return {time,
          "餐饮美食",
          "示例商户" + std::to_string(i % 97),
          "商品" + std::to_string(i),
          income ? "收入" : "支出",
          amount,
          "交易成功",
          order,
          "M" + std::to_string(i)};
}

}  // namespace pennacle::bench

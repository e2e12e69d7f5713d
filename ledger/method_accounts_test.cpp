#include "ledger/method_accounts.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/convert.h"
#include "store/side_files.h"
#include "store/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;
namespace fs = std::filesystem;

CategoryKey key(int32_t serial, double amount = 12.5, bool income = false) {
  return {serial, make_date_time(2023, 5, 2, 9, 15, 0) + serial / 1000.0, amount, income};
}

class MethodAccountsTest : public StoreTest {
 protected:
  std::string file() { return method_accounts_path(path("data.kdb")); }
  std::map<int32_t, std::string> state() {
    MethodAccountFile f;
    const Status s = f.open(posix_file_system(), file(), false);
    EXPECT_TRUE(s.ok()) << s.message();
    std::map<int32_t, std::string> out;
    for (const auto& [serial, e] : f.entries()) out[serial] = e.name;
    return out;
  }
};

TEST_F(MethodAccountsTest, ANewFileHoldsItsOwnHeaderAndNoNamesAndSitsAmongTheSideFiles) {
  EXPECT_EQ(file(), path("data.kdb.accounts"));
  EXPECT_NE(std::find(kSideFileSuffixes.begin(), kSideFileSuffixes.end(), kMethodAccountsSuffix),
            kSideFileSuffixes.end());
  MethodAccountFile reader;
  ASSERT_TRUE(reader.open(posix_file_system(), file(), false).ok());
  EXPECT_TRUE(reader.names().empty());
  EXPECT_FALSE(fs::exists(file())) << "a reader never makes the file";
  {
    MethodAccountFile writer;
    ASSERT_TRUE(writer.open(posix_file_system(), file(), true).ok());
    EXPECT_EQ(read_bytes(file()), "pennacle method accounts 1\n") << "no starting names";
    ASSERT_TRUE(writer.update({{key(3), "Liabilities:Huabei", false}}, nullptr).ok());
  }
  MethodAccountFile f;
  ASSERT_TRUE(f.open(posix_file_system(), file(), false).ok());
  EXPECT_EQ(f.names(), std::vector<std::string>{"Liabilities:Huabei"});
  ASSERT_NE(f.find(key(3)), nullptr);
  EXPECT_EQ(f.find(key(3))->name, "Liabilities:Huabei");
  EXPECT_EQ(f.find(key(3, 12.51)), nullptr) << "another bill under the same serial";
  EXPECT_EQ(f.find(key(3, 12.5, true)), nullptr);
}

// Each kind refuses the other's file, so neither reads the other's entries as its own; the category
// file keeps its header and starting names.
TEST_F(MethodAccountsTest, TheTwoKindsRefuseEachOthersFile) {
  const std::string categories = categories_path(path("data.kdb"));
  {
    CategoryFile c;
    ASSERT_TRUE(c.open(posix_file_system(), categories, true).ok());
    ASSERT_TRUE(c.update({{key(1), "餐饮", false}}, nullptr).ok());
  }
  const std::string category_bytes = read_bytes(categories);
  EXPECT_EQ(category_bytes.rfind("pennacle categories 1\nN\t", 0), 0u);
  write_bytes(file(), category_bytes);
  MethodAccountFile a;
  Status s = a.open(posix_file_system(), file(), false);
  EXPECT_EQ(s.code(), StatusCode::Corrupt);
  EXPECT_NE(s.message().find("not a method accounts file"), std::string::npos) << s.message();

  fs::remove(file());
  {
    MethodAccountFile w;
    ASSERT_TRUE(w.open(posix_file_system(), file(), true).ok());
    ASSERT_TRUE(w.update({{key(1), "Assets:Alipay", false}}, nullptr).ok());
  }
  write_bytes(categories, read_bytes(file()));
  CategoryFile c;
  s = c.open(posix_file_system(), categories, false);
  EXPECT_EQ(s.code(), StatusCode::Corrupt);
  EXPECT_NE(s.message().find("not a categories file"), std::string::npos) << s.message();
}

// A rewrite (entries of gone bills dropped) and a header cut short keep the kind's own header and
// add no starting names; a second writer is told which file is busy.
TEST_F(MethodAccountsTest, ARewriteAndATornHeaderKeepTheKind) {
  write_bytes(file(), "pennacle method acc");
  EXPECT_TRUE(state().empty());
  {
    MethodAccountFile w;
    ASSERT_TRUE(w.open(posix_file_system(), file(), true).ok());
    ASSERT_TRUE(
        w.update({{key(1), "Assets:Alipay", false}, {key(2), "Assets:Bank:招行", false}}, nullptr).ok());
    MethodAccountFile second;
    const Status busy = second.open(posix_file_system(), file(), true);
    EXPECT_NE(busy.message().find("another change of the method accounts"), std::string::npos)
        << busy.message();
    LiveBills live{{2, key(2)}};
    ASSERT_TRUE(w.update({}, &live).ok());
    ASSERT_TRUE(w.rekey(key(2), key(7)).ok());
  }
  EXPECT_EQ(state(), (std::map<int32_t, std::string>{{7, "Assets:Bank:招行"}}));
  const std::string bytes = read_bytes(file());
  EXPECT_EQ(bytes.rfind("pennacle method accounts 1\n", 0), 0u);
  EXPECT_EQ(bytes.find("餐饮"), std::string::npos) << "no category's name";
}

TEST_F(MethodAccountsTest, AnAccountMustBeAName) {
  EXPECT_EQ(method_account_problem("Assets:Alipay"), "");
  EXPECT_EQ(method_account_problem("资产:支付宝"), "");
  EXPECT_EQ(method_account_problem("Assets::Alipay"),
            "each part of an account (between colons) must hold something");
  EXPECT_EQ(method_account_problem(std::string(kMaxCategoryBytes + 1, 'A')),
            "an account takes at most 120 bytes");
  EXPECT_EQ(method_account_problem("Assets:\tAlipay"), "an account cannot hold control characters");
  // The file's writer refuses such a name in its own words, writing nothing.
  MethodAccountFile f;
  ASSERT_TRUE(f.open(posix_file_system(), file(), true).ok());
  const Status s = f.update({{key(1), "Assets:Alipay", false}, {key(2), "Assets::Card", false}}, nullptr);
  EXPECT_EQ(s.code(), StatusCode::Invalid);
  EXPECT_NE(s.message().find("each part of an account"), std::string::npos) << s.message();
  EXPECT_TRUE(state().empty());
}

}  // namespace
}  // namespace pennacle

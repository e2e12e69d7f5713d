// The carried main window template, byte for byte: its SHA-256 as the template writer produced it
// when each kind's settings were still written field by field, before the property tables. A
// change of any byte (a field moved, a default changed, a table row out of order) fails here.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <string_view>

#include "ui/main_window_template.h"

namespace pennacle {
namespace {

constexpr size_t kPinnedSize = 3331;
constexpr const char* kPinnedSha256 = "25109f4f5b8eba46802ad6bb6089a83c18c0263ec19553667004f62311f82a2e";

std::string sha256(std::string_view bytes) {
  const QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
  return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex().toStdString();
}

TEST(MainWindowBytes, TheWriterGivesThePinnedBytes) {
  const std::string written = write_templates(main_window_template_set());
  EXPECT_EQ(written.size(), kPinnedSize);
  EXPECT_EQ(sha256(written), kPinnedSha256);
}

TEST(MainWindowBytes, TheProgramCarriesThePinnedBytes) {
  const std::string_view carried = main_window_templates();
  EXPECT_EQ(carried.size(), kPinnedSize);
  EXPECT_EQ(sha256(carried), kPinnedSha256);
}

}  // namespace
}  // namespace pennacle

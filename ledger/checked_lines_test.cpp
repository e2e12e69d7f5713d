#include "ledger/checked_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace pennacle {
namespace {

// The fields a fixed-room read gives, as a vector (empty when it gives none).
std::vector<std::string_view> fixed_fields(std::string_view line, size_t capacity, size_t* count) {
  std::vector<std::string_view> f(capacity);
  *count = checked_fields(line, f.data(), capacity);
  f.resize(*count <= capacity ? *count : 0);
  return f;
}

TEST(CheckedLines, TheOnePassReadAgreesWithTheSplitReadOnSoundAndBadLines) {
  const std::string sound = checked_line({"I", "", "a b", "%"});
  std::string flipped = sound;
  flipped[2] ^= 0x01;
  std::string bad_digit = sound;
  bad_digit[bad_digit.size() - 2] = 'g';
  const std::vector<std::string> lines = {
      sound,
      checked_line({"only"}),
      checked_line({"", "", ""}),  // empty fields, the first one too
      flipped,
      bad_digit,
      sound.substr(0, sound.size() - 1),  // no line end
      "\n",
      "no tab at all\n",
      "\t" + sound,                              // one more empty field in front: fails the checksum
      sound.substr(0, sound.size() - 2) + "\n",  // a checksum a digit short
  };
  for (const std::string& line : lines) {
    size_t count = 0;
    EXPECT_EQ(fixed_fields(line, 8, &count), checked_fields(line)) << line;
    EXPECT_LE(count, 8u);
  }
}

TEST(CheckedLines, LinesCheckedSideBySideAgreeWithOneAtATime) {
  std::vector<std::string> lines;
  for (int i = 0; i < 23; ++i) {
    std::string line = checked_line({std::string(static_cast<size_t>(i * 7 % 40), 'a' + i % 26), "x", ""});
    if (i % 5 == 1) line[static_cast<size_t>(i) % (line.size() - 1)] ^= 0x20;  // damaged anywhere
    if (i % 7 == 3) line.pop_back();                                           // no line end
    if (i % 11 == 4) line = "no tab\n";
    if (i % 13 == 6) line = "\n";
    lines.push_back(line);
  }
  for (size_t count = 0; count <= lines.size(); ++count) {  // every tail of a group of four
    std::vector<std::string_view> views(lines.begin(), lines.begin() + static_cast<ptrdiff_t>(count));
    std::unique_ptr<bool[]> sound(new bool[count + 1]);
    sound[count] = true;  // nothing is written past the count
    check_lines(views.data(), count, sound.get());
    for (size_t i = 0; i < count; ++i)
      EXPECT_EQ(sound[i], !checked_fields(lines[i]).empty()) << i << " of " << count;
    EXPECT_TRUE(sound[count]);
  }
  // A sound line's fields split without its checksum are the fields checked.
  for (const std::string& line : lines) {
    if (checked_fields(line).empty()) continue;
    size_t count = 0;
    const std::vector<std::string_view> checked = fixed_fields(line, 4, &count);
    std::string_view f[4];
    ASSERT_EQ(checked_fields(line, f, 4, true), count);
    EXPECT_EQ(std::vector<std::string_view>(f, f + count), checked);
    EXPECT_EQ(checked_fields(line, f, 1, true), 2u) << "more fields than room";
  }
}

// Sound lines are split sixteen bytes at a time: tabs on either side of a block's edge, many in one
// block, none in a long field, and a line's end inside a block all split as the one-pass read does.
TEST(CheckedLines, ASoundLineSplitsAsTheCheckedReadWhereverItsTabsFall) {
  std::vector<std::vector<std::string>> shapes;
  for (size_t first = 0; first <= 40; ++first) {  // a first field of each length moves every tab
    shapes.push_back({std::string(first, 'a'), "b", std::string(17, 'c'), ""});
    shapes.push_back({std::string(first, 'x')});
  }
  shapes.push_back(std::vector<std::string>(40, ""));  // a tab in every byte of three blocks
  shapes.push_back(std::vector<std::string>(33, "1"));
  shapes.push_back({std::string(100, 'L'), std::string(31, 'M'), "\x80\xFF"});
  for (const std::vector<std::string>& fields : shapes) {
    const std::string line = checked_line(fields);
    const std::vector<std::string_view> want = checked_fields(line);
    ASSERT_EQ(want.size(), fields.size()) << line;
    std::vector<std::string_view> got(fields.size() + 1, "untouched");
    ASSERT_EQ(checked_fields(line, got.data(), fields.size(), true), fields.size()) << line;
    EXPECT_EQ(std::vector<std::string_view>(got.begin(), got.end() - 1), want) << line;
    EXPECT_EQ(got.back(), "untouched") << "nothing written past the room";
    // Too little room, whichever block the field past it falls in.
    for (size_t room = 0; room < fields.size(); room += 3) {
      std::fill(got.begin(), got.end(), "untouched");
      EXPECT_EQ(checked_fields(line, got.data(), room, true), room + 1) << line;
      EXPECT_EQ(got[room], "untouched") << line;
    }
  }
}

TEST(CheckedLines, MoreFieldsThanRoomIsSaidWithoutWritingPastIt) {
  const std::string line = checked_line({"a", "b", "c"});
  size_t count = 0;
  EXPECT_EQ(fixed_fields(line, 3, &count).size(), 3u);
  std::string_view room[3] = {"x", "x", "x"};
  EXPECT_EQ(checked_fields(line, room, 2), 3u);  // capacity + 1
  EXPECT_EQ(room[2], "x");
}

TEST(CheckedLines, AnEndedLineIsWhatTheWholeLineMakerWrites) {
  for (const std::vector<std::string>& fields :
       {std::vector<std::string>{"S", "0"}, {"D", "order", "2023-01-01 00:00:00", "1.5", "+"}, {""}}) {
    std::string out = "prefix that is no part of the line\n";
    const size_t start = out.size();
    for (size_t i = 0; i < fields.size(); ++i) out += (i ? "\t" : "") + fields[i];
    end_checked_line(&out, start);
    EXPECT_EQ(out.substr(start), checked_line(fields));
  }
}

TEST(CheckedLines, ChecksumsFilledSideBySideAreThoseOfOneLineAtATime) {
  for (size_t count = 0; count <= 11; ++count) {  // every tail of a group of four
    std::string one = "a header line that is no part of them\n", many = one;
    std::vector<size_t> starts;
    for (size_t i = 0; i < count; ++i) {
      const std::string fields =
          std::string(i * 5 % 17, static_cast<char>('a' + i)) + "\t" + std::to_string(i);
      const size_t start = one.size();
      one += fields;
      end_checked_line(&one, start);
      starts.push_back(many.size());
      many += fields;
      end_line_unchecked(&many);
    }
    fill_checksums(&many, starts);
    EXPECT_EQ(many, one) << count;
  }
}

TEST(CheckedLines, EscapesRoundTripEveryByteAndOnlyBreakersAreEscaped) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const std::string escaped = escape_field(all);
  for (char c : escaped) {
    EXPECT_GT(static_cast<unsigned char>(c), ' ');
    EXPECT_NE(static_cast<unsigned char>(c), 0x7F);
  }
  // Each of the 33 control and space bytes, '%' and DEL take three bytes; the others one.
  EXPECT_EQ(escaped.size(), 256u + 2 * 35);
  std::string back = "left over";
  ASSERT_TRUE(unescape_field(escaped, &back));
  EXPECT_EQ(back, all);
  std::string appended = "kept:";
  append_escaped(&appended, "a b%");
  EXPECT_EQ(appended, "kept:a%20b%25");
}

TEST(CheckedLines, AFieldWithoutEscapesIsCopiedWholeAndBadEscapesFail) {
  std::string out = "stale text";
  ASSERT_TRUE(unescape_field("plain", &out));
  EXPECT_EQ(out, "plain");
  ASSERT_TRUE(unescape_field("", &out));
  EXPECT_EQ(out, "");
  for (std::string_view bad : {"%", "%2", "x%zz", "%2g"}) EXPECT_FALSE(unescape_field(bad, &out)) << bad;
}

TEST(CheckedLines, AMarkIsReadOnlyFromASoundMarkLine) {
  uint64_t length = 0;
  ASSERT_TRUE(parse_mark_line(mark_line(1234), &length));
  EXPECT_EQ(length, 1234u);
  std::string damaged = mark_line(1234);
  damaged[3] = '5';
  EXPECT_FALSE(parse_mark_line(damaged, &length));
  EXPECT_FALSE(parse_mark_line(checked_line({"S", "1", "2"}), &length));
  EXPECT_FALSE(parse_mark_line(checked_line({"T", "1"}), &length));
  EXPECT_FALSE(parse_mark_line("S\n", &length));
}

TEST(CheckedLines, AScanTellsATornEndFromDamageBelowAMark) {
  const std::string a = checked_line({"a"}), b = checked_line({"b"});
  std::string bad = b;
  bad[0] = 'c';
  const std::string header = "h\n";
  std::vector<std::string> taken;
  auto take = [&](std::string_view line) {
    taken.emplace_back(line);
    return !checked_fields(line).empty();
  };
  // A bad line after the last mark: a torn end.
  std::string bytes = header + a + bad + b;
  LineScan scan = scan_checked_lines(bytes, header.size(), take);
  EXPECT_EQ(scan.damaged_line, 0);
  EXPECT_EQ(scan.sound_end, header.size() + a.size());
  EXPECT_EQ(taken.size(), 2u);  // lines after the first bad one are only looked at for marks
  // A mark naming a length past the bad line: damage, on the bad line's number.
  bytes = header + a + bad + mark_line(bytes.size()) + b;
  scan = scan_checked_lines(bytes, header.size(), take);
  EXPECT_EQ(scan.damaged_line, 3);
  EXPECT_LE(scan.marked, scan.sound_end);
}

// The scan of lines split ahead (as the import log splits them, to check them side by side) finds
// what the scan of the bytes finds, and hands each line over with its place in the split.
TEST(CheckedLines, AScanOfLinesSplitAheadIsTheScanOfTheBytes) {
  const std::string a = checked_line({"a"}), b = checked_line({"b", "2"});
  std::string bad = b;
  bad[0] = 'c';
  const std::string header = "h\n";
  const std::vector<std::string> bodies = {
      "",
      a + b,
      a + bad + b,
      a + bad + mark_line(60) + b,
      mark_line(5) + a + mark_line(2) + b.substr(0, 4),  // a torn end without its line end
      a + a + mark_line(header.size() + 2 * a.size()) + bad,
      bad + "\n\n" + mark_line(1000),
      "no end at all"};
  for (const std::string& body : bodies) {
    const std::string bytes = header + body;
    std::vector<std::string> by_bytes;
    const LineScan want = scan_checked_lines(bytes, header.size(), [&](std::string_view line) {
      by_bytes.emplace_back(line);
      return !checked_fields(line).empty();
    });
    std::vector<std::string_view> lines;
    for (size_t at = header.size(); at < bytes.size();) {
      const size_t end = std::min(bytes.find('\n', at), bytes.size() - 1);
      lines.push_back(std::string_view(bytes).substr(at, end + 1 - at));
      at = end + 1;
    }
    size_t next = 0;
    std::vector<std::string> by_lines;
    const LineScan got = scan_lines(
        header.size(),
        [&](std::string_view* line) {
          if (next == lines.size()) return false;
          *line = lines[next++];
          return true;
        },
        [&](std::string_view line, size_t index) {
          EXPECT_EQ(line.data(), lines[index].data()) << body;
          by_lines.emplace_back(line);
          return !checked_fields(line).empty();
        });
    EXPECT_EQ(got.sound_end, want.sound_end) << body;
    EXPECT_EQ(got.marked, want.marked) << body;
    EXPECT_EQ(got.damaged_line, want.damaged_line) << body;
    EXPECT_EQ(by_lines, by_bytes) << body;
  }
}

}  // namespace
}  // namespace pennacle

#include "util/split_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Runs a splitter over a copy of `line` with `destinations` destinations (the rest null), each
// 100 characters with a guard byte behind it, and returns the count and the stored fields.
struct Split {
  int32_t count;
  std::vector<std::string> fields;
};

constexpr size_t kDest = 100;
constexpr char kGuard = '\x7F';

Split RunSplitter(const std::string& line, int destinations, char separator = ',',
                  bool older = false) {
  std::vector<char> text(line.begin(), line.end());
  text.push_back('\0');
  std::vector<std::vector<char>> buffers(10, std::vector<char>(older ? 400 : kDest + 1, kGuard));
  char* d[10] = {};
  for (int i = 0; i < destinations; ++i) d[i] = buffers[static_cast<size_t>(i)].data();
  Split out;
  out.count = older
                  ? GetLineParts(text.data(), d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7], d[8])
                  : CONVERT_SplitLine(text.data(), separator, d[0], d[1], d[2], d[3], d[4], d[5],
                                      d[6], d[7], d[8], d[9]);
  for (int i = 0; i < out.count; ++i) {
    const std::vector<char>& b = buffers[static_cast<size_t>(i)];
    if (!older) {
      EXPECT_EQ(b[kDest], kGuard) << "field " << i + 1 << " written beyond 100 bytes";
    }
    out.fields.emplace_back(b.data());
  }
  return out;
}

using Fields = std::vector<std::string>;

TEST(SplitLineTest, FieldsQuotesAndFallbackSeparators) {
  struct Case {
    std::string line;
    int destinations;
    char separator;
    Fields fields;
  };
  const std::string f150(150, 'x');
  const std::vector<Case> cases = {
      {"4711,100,0815\n", 3, ',', {"4711", "100", "0815"}},
      {"4711;100", 3, ',', {"4711", "100"}},
      {"\"Meier, Hans\",12", 3, ',', {"Meier, Hans", "12"}},
      {"a,b,", 3, ',', {"a", "b"}},
      {"a,,b", 3, ',', {"a", "", "b"}},
      {"abc", 3, ',', {}},
      {"\n", 3, ',', {}},
      {"", 3, ',', {}},
      {"1,2,3,4,5,6", 4, ',', {"1", "2", "3", "4,5,6"}},
      {"1,2,3,4,5,6", 5, ',', {"1", "2", "3", "4", "5"}},
      {"1,2,3,4,5,6", 10, ',', {"1", "2", "3", "4", "5", "6"}},
      {"1,2,3,4,5", 2, ',', {"1", "2"}},
      {"1,2,3,4,5,6,7,8,9,10,11", 10, ',', {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}},
      // The fallback is decided for each field: ';' only where no ',' follows.
      {"a;b,c;d", 4, ',', {"a;b", "c", "d"}},
      {"a,b;c", 3, ';', {"a,b", "c"}},
      {"a|b|c", 3, '|', {"a", "b", "c"}},
      {"a;b", 3, '|', {}},
      // Quotes: the character after the closing quote is passed over, whatever it is.
      {"\"a\"x\"b,c\"", 3, ',', {"a", "b,c"}},
      {"x,\"quoted", 3, ',', {"x", "quoted"}},
      {"\"open,ended", 3, ',', {}},
      {"\"last\"", 3, ',', {"last"}},
      {"a,\"b\"", 3, ',', {"a", "b"}},
      {" a , b ", 3, ',', {" a ", " b "}},
      {f150 + "," + f150, 3, ',', {f150.substr(0, 99), f150.substr(0, 99)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const Split got = RunSplitter(c.line, c.destinations, c.separator);
    EXPECT_EQ(got.count, static_cast<int32_t>(c.fields.size()));
    EXPECT_EQ(got.fields, c.fields);
  }
  char line[] = "a,b";
  char d1[kDest];
  EXPECT_EQ(CONVERT_SplitLine(line, ',', d1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr),
            0)
      << "the second destination is required";
}

TEST(SplitLineTest, TheOlderFormCutsEveryFieldAndCopiesItWhole) {
  const std::string f150(150, 'y');
  struct Case {
    std::string line;
    int destinations;
    Fields fields;
  };
  const std::vector<Case> cases = {
      {"1,2,3,4,5,6", 4, {"1", "2", "3", "4"}},
      {"4711;100\n", 3, {"4711", "100"}},
      {"1,2,3,4,5,6,7,8,9,10", 9, {"1", "2", "3", "4", "5", "6", "7", "8", "9"}},
      {f150 + ",x", 3, {f150, "x"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const Split got = RunSplitter(c.line, c.destinations, ',', true);
    EXPECT_EQ(got.count, static_cast<int32_t>(c.fields.size()));
    EXPECT_EQ(got.fields, c.fields);
  }
}

}  // namespace

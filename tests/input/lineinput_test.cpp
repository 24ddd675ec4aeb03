#include "input/lineinput.hpp"

#include <gtest/gtest.h>

#include <cmath>


namespace vorn {
namespace {

std::vector<std::pair<std::string, size_t>> lines_of(const std::string& data) {
  InputText f;
  load_memory(data.data(), data.size(), "mem", f);
  LineReader in(f);
  std::vector<std::pair<std::string, size_t>> out;
  while (in.leelinea() == 0) out.emplace_back(std::string(in.text()), in.length());
  return out;
}

TEST(LineInput, LinesWholeAndLineEndsStripped) {
  using L = std::vector<std::pair<std::string, size_t>>;
  const std::string big(1 << 20, 'Q');
  const struct {
    std::string data;
    L want;
    const char* why;
  } cases[] = {
      {"", {}, "empty file: first read at end"},
      {"ab\ncd", {{"ab", 3}, {"cd", 2}}, "last line without newline"},
      {"ab\r\ncd\r\n", {{"ab", 3}, {"cd", 3}}, "CRLF reads as LF"},
      {"ab\r", {{"ab", 2}}, "CR at the very end"},
      {"a\rb\n", {{"a\rb", 4}}, "inner CR is data"},
      {"\n\n", {{"", 1}, {"", 1}}, "blank lines"},
      {std::string("x\0y\n", 4), {{std::string("x\0y", 3), 4}}, "NUL bytes kept"},
      {big + "\n", {{big, big.size() + 1}}, "a 1 MB line in one piece"},
      {"\xEF\xBB\xBF>a\n", {{">a", 3}}, "a UTF-8 byte-order mark is dropped"},
      {"x\xEF\xBB\xBF\n", {{"x\xEF\xBB\xBF", 5}}, "but only at the start"},
  };
  for (const auto& c : cases) EXPECT_EQ(lines_of(c.data), c.want) << c.why;
}

TEST(Fields, IntegerField) {
  const struct {
    std::string text;
    size_t off;
    int64_t value;
    bool digits, overflow;
  } cases[] = {
      {"SEQLENGTH   199", 10, 199, true, false}, {"  -12xyz", 0, -12, true, false}, {"+7", 0, 7, true, false},
      {"abc", 0, 0, false, false},             {"", 5, 0, false, false},         {"12345678901234567890", 0, INT64_MAX, true, true},
      {" \t\n42", 0, 42, true, false},          {"- 5", 0, 0, false, false},
  };
  for (const auto& c : cases) {
    IntField f = int_field(c.text, c.off);
    EXPECT_EQ(f.value, c.value) << c.text;
    EXPECT_EQ(f.digits, c.digits) << c.text;
    EXPECT_EQ(f.overflow, c.overflow) << c.text;
  }
}

TEST(Fields, NumberFieldTakesOnlyDecimalNumbers) {
  const struct {
    std::string text;
    float value;
    bool found, overflow;
  } cases[] = {
      {"  -1.5", -1.5f, true, false}, {"4", 4, true, false},        {".5", 0.5f, true, false},
      {"5.", 5, true, false},          {"2e3", 2000, true, false},   {"2e", 2, true, false},
      {"1E-2x", 0.01f, true, false},  {"0x1A", 0, true, false},     {"nan", 0, false, false},
      {"inf", 0, false, false},        {"-", 0, false, false},       {".", 0, false, false},
      {"", 0, false, false},           {"1e39", INFINITY, true, true}, {"-3.5e38", -INFINITY, true, true},
      {"3.4028235e38", 3.4028235e38f, true, false}, {"1e-50", 0, true, false},
  };
  for (const auto& c : cases) {
    NumberField f = number_field(c.text, 0);
    EXPECT_EQ(f.value, c.value) << c.text;
    EXPECT_EQ(f.found, c.found) << c.text;
    EXPECT_EQ(f.overflow, c.overflow) << c.text;
  }
}

}  // namespace
}  // namespace vorn

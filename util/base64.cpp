#include "util/base64.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Both directions work on at most this many input characters, the size of their work area.
constexpr size_t kInputLimit = 999;

// The 6-bit value of an alphabet character, -1 for any other character.
int32_t Sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Appends the decoded bytes of one group of `count` characters (2 to 4) with the 6-bit values
// `s`. A zero byte ends what the group contributes, as the output is a text.
char* AppendGroup(char* out, const int32_t s[4], int count) {
  const unsigned char bytes[3] = {
      static_cast<unsigned char>(s[0] << 2 | s[1] >> 4),
      static_cast<unsigned char>(s[1] << 4 | s[2] >> 2),
      static_cast<unsigned char>(s[2] << 6 | s[3]),
  };
  for (int i = 0; i < count - 1 && bytes[i] != 0; ++i) *out++ = static_cast<char>(bytes[i]);
  return out;
}

char Rot13(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<char>('A' + (c - 'A' + 13) % 26);
  if (c >= 'a' && c <= 'z') return static_cast<char>('a' + (c - 'a' + 13) % 26);
  return c;
}

}  // namespace

int32_t CONVERT_Encode64(char* output, const char* text) {
  if (!output) return 0;
  const size_t length = text ? strnlen(text, kInputLimit) : 0;
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  char* out = output;
  for (size_t i = 0; i < length; i += 3) {
    const size_t left = length - i;
    const unsigned b0 = in[i];
    const unsigned b1 = left > 1 ? in[i + 1] : 0;
    const unsigned b2 = left > 2 ? in[i + 2] : 0;
    *out++ = kAlphabet[b0 >> 2];
    *out++ = kAlphabet[(b0 & 3) << 4 | b1 >> 4];
    *out++ = left > 1 ? kAlphabet[(b1 & 15) << 2 | b2 >> 6] : '=';
    *out++ = left > 2 ? kAlphabet[b2 & 63] : '=';
  }
  *out = '\0';
  return 1;
}

int32_t CONVERT_Decode64(char* output, const char* data, int32_t length) {
  if (!output) return 0;
  const size_t limit = length > 0 ? std::min<size_t>(static_cast<size_t>(length), kInputLimit) : 0;
  const size_t size = data ? strnlen(data, limit) : 0;
  char* out = output;
  int32_t group[4] = {};
  int count = 0;
  for (size_t i = 0; i < size; ++i) {
    const int32_t sextet = Sextet(data[i]);
    if (sextet < 0) continue;
    group[count++] = sextet;
    if (count == 4) {
      out = AppendGroup(out, group, 4);
      count = 0;
    }
  }
  if (count > 1) {
    for (int i = count; i < 4; ++i) group[i] = 0;
    out = AppendGroup(out, group, count);
  }
  *out = '\0';
  return 1;
}

int32_t CONVERT_base64helper(char c) { return std::max(Sextet(c), 0); }

char* CONVERT_ROT13(char* text) {
  if (!text) return text;
  for (char* c = text; *c; ++c) *c = Rot13(*c);
  return text;
}

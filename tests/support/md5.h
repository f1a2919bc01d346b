#pragma once
// MD5 of a byte block, as lower-case hex: the digest ffprobe shows for packets.
#include <cstddef>
#include <cstdint>
#include <string>

namespace vantorel::test {

std::string md5_hex(const uint8_t* data, size_t length);

}  // namespace vantorel::test

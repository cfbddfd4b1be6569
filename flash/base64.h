// Base64, as the DevTools protocol carries bytes: pictures the browser
// sends, bodies we answer its requests with.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Nullopt on a character outside the alphabet or a bad length.
std::optional<std::vector<uint8_t>> Base64Decode(const std::string& Text);
std::string Base64Encode(const uint8_t* Data, size_t Size);

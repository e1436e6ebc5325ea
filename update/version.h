// Ordering dotted version texts such as "1.2.0".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One number per dot-separated piece, padded with zeros to at least three.
std::vector<int32_t> ParseVersion(const std::wstring& text);
bool IsNewerVersion(const std::wstring& current, const std::wstring& candidate);

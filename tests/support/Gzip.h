#pragma once
// The bytes as one gzip member (RFC 1952), as a server that compresses its answers sends them.

#include <string>

std::string Gzip(const std::string& data);

// What every kdbtool command says on the terminal: messages in UTF-8, failures on one line.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace pennacle {

// A GBK text for the terminal; bytes GBK cannot read become U+FFFD.
std::string utf8(std::string_view gbk);
// Writes "kdbtool: <what>" on `err`; returns the exit status 1.
int fail(std::ostream& err, const std::string& what);
// True when the arguments ask for the command's help (--help, -h).
bool wants_help(const std::vector<std::string>& args);
// Command-line paths arrive UTF-8; the store takes GBK. False, with a message, for a path GBK cannot
// hold.
bool to_gbk(const std::string& path, std::string* out, std::ostream& err);
bool to_gbk(const std::vector<std::string>& paths, std::vector<std::string>* out, std::ostream& err);

}  // namespace pennacle

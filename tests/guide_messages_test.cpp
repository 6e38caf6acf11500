// The guide's table of messages against the messages the program has: a
// message added, changed or dropped in the code must be in the guide as
// the user sees it, and the guide must name no message the program lacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::filesystem::path kSource = NLCONF_SOURCE_DIR;
const std::string kElision = "…";

std::string fileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// As the guide writes it: line ends as spaces, quotes plain, what the
// program fills in as "…".
std::string asInGuide(std::string literal) {
  literal = std::regex_replace(literal, std::regex(R"((?:\\r\\n)+)"), " ");
  literal = std::regex_replace(literal, std::regex(R"(\\")"), "\"");
  return std::regex_replace(literal, std::regex("%[a-z]+"), "…");
}

// The program's code, one text per source file.
std::vector<std::string> productCode() {
  std::vector<std::string> files;
  for (const char* folder : {"app", "ui", "runner", "module", "link"}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(kSource / folder)) {
      if (entry.path().extension() == ".cpp")
        files.push_back(fileText(entry.path()));
    }
  }
  return files;
}

void collect(const std::string& text, const std::regex& pattern, std::set<std::string>* into) {
  for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) {
    const std::string message = asInGuide((*it)[1].str());
    if (message != "…")  // a text composed elsewhere, passed through
      into->insert(message);
  }
}

// Every message box text written out whole in the program's code.
std::set<std::string> programMessages() {
  const std::regex boxed(
      R"re((?:showError|showWarning|showInfo|showSystemError|failDialogCreation|showVerdict)\((?:\s*mainDialog,|\s*s,)?\s*L"((?:[^"\\]|\\.)*)")re");
  const std::regex resultText(R"re(wchar_t k\w+(?:Text|Format)\[\] =\s*L"((?:[^"\\]|\\.)*)")re");
  std::set<std::string> messages;
  for (const std::string& code : productCode())
    collect(code, boxed, &messages);
  for (const char* file : {"module/outcome.cpp", "ui/dialog/rules.cpp"})
    collect(fileText(kSource / file), resultText, &messages);
  return messages;
}

// The first column of the guide's message table, written out whole.
std::set<std::string> guideMessages() {
  const std::string guide = fileText(kSource / "docs/guide.md");
  const size_t table = guide.find("| Message | What it means | What to do |");
  const size_t composed = guide.find("Messages that NLCONF puts together from parts");
  std::set<std::string> messages;
  const std::string rows = guide.substr(table, composed - table);
  const std::regex row(R"(\n\| `([^`]+)` \|)");
  for (std::sregex_iterator it(rows.begin(), rows.end(), row), end; it != end; ++it)
    messages.insert((*it)[1].str());
  return messages;
}

// Every string literal of the program's code, as the guide writes it: the
// messages shared with the command line are narrow.
std::vector<std::string> programLiterals() {
  const std::regex literal(R"re(L?"((?:[^"\\]|\\.)*)")re");
  std::vector<std::string> literals;
  for (const std::string& code : productCode()) {
    for (std::sregex_iterator it(code.begin(), code.end(), literal), end; it != end; ++it)
      literals.push_back(asInGuide((*it)[1].str()));
  }
  return literals;
}

// What the guide quotes of the messages put together from parts: each piece
// between two "…" must be written in the code.
std::vector<std::string> composedPieces() {
  const std::string guide = fileText(kSource / "docs/guide.md");
  const std::string rows =
      guide.substr(guide.find("Messages that NLCONF puts together from parts"));
  const std::regex quoted("`([^`]+)`");
  std::vector<std::string> pieces;
  for (std::sregex_iterator it(rows.begin(), rows.end(), quoted), end; it != end; ++it) {
    const std::string message = (*it)[1].str();
    for (size_t at = 0, stop; at <= message.size(); at = stop + kElision.size()) {
      stop = std::min(message.find(kElision, at), message.size());
      const std::string piece =
          std::regex_replace(message.substr(at, stop - at), std::regex(R"(^\s+|\s+$)"), "");
      if (!piece.empty())
        pieces.push_back(piece);
    }
  }
  return pieces;
}

TEST(Guide, ItsMessageTableIsTheProgramsMessages) {
  const std::set<std::string> program = programMessages();
  const std::set<std::string> guide = guideMessages();
  ASSERT_GT(program.size(), 10u) << "the program's messages were not found";
  for (const std::string& message : program)
    EXPECT_TRUE(guide.count(message)) << "not in the guide's table: " << message;
  for (const std::string& message : guide)
    EXPECT_TRUE(program.count(message)) << "in the guide, but the program has no: " << message;
}

TEST(Guide, WhatItQuotesOfComposedMessagesIsInTheCode) {
  const std::vector<std::string> literals = programLiterals();
  const std::vector<std::string> pieces = composedPieces();
  ASSERT_GT(pieces.size(), 10u) << "the guide's second table was not found";
  for (const std::string& piece : pieces) {
    bool found = false;
    for (const std::string& literal : literals)
      found = found || literal.find(piece) != std::string::npos;
    EXPECT_TRUE(found) << "the guide quotes what the code does not write: " << piece;
  }
}

}  // namespace

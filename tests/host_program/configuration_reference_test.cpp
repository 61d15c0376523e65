#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "host/program/host_configuration.h"
#include "host_program_support.h"
#include "temp_directory.h"

namespace {

using reference_host::HostConfiguration;

// The keys of the reference's table: its rows start with "| `key` |". Each
// row's example is returned with its key.
std::map<std::string, std::string> ReferenceRows(std::vector<std::string>& badRows) {
  const std::regex row(R"(^\| `([^`]+)` \|(.*)\|$)");
  std::map<std::string, std::string> examples;
  for (const std::string& line : Lines(ReadText(std::filesystem::path(EDR_DOCS_DIR) / "configuration.md"))) {
    std::smatch match;
    if (!std::regex_match(line, match, row)) continue;
    // Key, type, default, range, applies to, example: six cells, the last
    // one an example in backquotes.
    const std::string cells = match[2];
    const std::size_t lastBar = cells.rfind('|');
    const std::string example = lastBar == std::string::npos ? "" : cells.substr(lastBar + 1);
    const std::regex quoted(R"(^ `(.+)` $)");
    std::smatch exampleMatch;
    if (std::count(cells.begin(), cells.end(), '|') != 4 || !std::regex_match(example, exampleMatch, quoted)) {
      badRows.push_back(line);
      continue;
    }
    examples[match[1]] = exampleMatch[1];
  }
  return examples;
}

// The reference names every key the loader takes and no other, each with a
// row of type, default, range, protocols and an example; a top-level key's
// example is taken by the loader (a file it names aside), and --help lists
// every key.
TEST(ConfigurationReference, MatchesTheLoaderKeyForKey) {
  std::vector<std::string> badRows;
  const std::map<std::string, std::string> rows = ReferenceRows(badRows);
  EXPECT_TRUE(badRows.empty()) << badRows.front();
  std::set<std::string> documented;
  for (const auto& [key, example] : rows) documented.insert(key);
  const std::vector<std::string> keys = HostConfiguration::Keys();
  const std::set<std::string> loaded(keys.begin(), keys.end());
  for (const std::string& key : loaded) EXPECT_TRUE(documented.count(key)) << key << " is not in the reference";
  for (const std::string& key : documented) EXPECT_TRUE(loaded.count(key)) << key << " is no key of the loader";

  TempDirectory dir;
  std::size_t loadedExamples = 0;
  for (const auto& [key, example] : rows) {
    if (key.find_first_of(".[") != std::string::npos) continue;
    SCOPED_TRACE(example);
    ASSERT_TRUE(example.starts_with("\"" + key + "\":"));
    // Every example beside one endpoint, unless it is the endpoints.
    std::string text = "{" + example;
    if (key != "endpoints") text += ", \"endpoints\": [{\"url\": \"https://127.0.0.1/ingest\"}]";
    text += "}";
    WriteText(dir.Path() / "config.json", text);
    try {
      HostConfiguration::Load(dir.Path() / "config.json");
      ++loadedExamples;
    } catch (const HostConfiguration::Error& error) {
      // The files an example names are not in the scratch folder.
      EXPECT_TRUE(std::string(error.what()).find("can't read file") != std::string::npos ||
                  std::string(error.what()).find("CREDENTIALS_DIRECTORY") != std::string::npos)
          << error.what();
    }
  }
  // Only a few name a file.
  EXPECT_GT(loadedExamples * 4, documented.size());

  ChildProcess::Options options;
  options.stdoutFile = dir.Path() / "help.out";
  ASSERT_EQ(ChildProcess(EDR_TELEMETRY_HOST_PATH, {"--help"}, options).Wait(), 0);
  const std::string help = ReadText(dir.Path() / "help.out");
  EXPECT_NE(help.find("configuration.md"), std::string::npos);
  for (const std::string& key : keys) {
    EXPECT_TRUE(help.find(" " + key + " ") != std::string::npos || help.find(" " + key + "\n") != std::string::npos)
        << key << " is not in --help";
  }
}

}  // namespace

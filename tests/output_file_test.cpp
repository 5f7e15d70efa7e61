// Output files: the temporary name that fits beside any legal target, the rename
// over an existing file, and the targets refused before any work.
#include "app/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {
struct Folder {
  std::filesystem::path path;
  Folder() {
    char pattern[] = "/tmp/pulse165-output-XXXXXX";
    path = mkdtemp(pattern);
  }
  ~Folder() { std::filesystem::remove_all(path); }
  std::string at(const std::string& name) const { return (path / name).string(); }
  int entries() const { return static_cast<int>(std::distance(std::filesystem::directory_iterator(path), {})); }
};

std::string contents(const std::string& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), {});
}
}  // namespace

TEST(OutputFile, TheTemporaryNameStaysBesideTheTargetAndWithinTheNameLimit) {
  const std::string e = "\xc3\xa9";  // two bytes of UTF-8
  std::string accents;
  for (int i = 0; i < 126; ++i) accents += e;
  struct Case {
    std::string target, expected;
  };
  const Case cases[] = {
      {"show.mp4", "show.mp4.part-XXXXXX"},
      {"out/1:00.mkv", "out/1:00.mkv.part-XXXXXX"},
      {"/" + std::string(243, 'a'), "/" + std::string(243, 'a') + ".part-XXXXXX"},
      {std::string(252, 'b'), std::string(243, 'b') + ".part-XXXXXX"},
      {"d/" + accents, "d/" + accents.substr(0, 242) + ".part-XXXXXX"},  // cut before a whole character
  };
  for (const Case& c : cases) EXPECT_EQ(temporaryTemplate(c.target, 255), c.expected) << c.target;
}

TEST(OutputFile, CommitReplacesTheTargetWithItsOwnBytesAndLeavesNothingElse) {
  Folder folder;
  const std::string target = folder.at(std::string(248, 'n') + ".png");  // 252 bytes: 264 with ".part-XXXXXX"
  std::ofstream(target) << "old";
  OutputFile file;
  std::string error;
  ASSERT_TRUE(file.reserve(target, "write", "test", error)) << error;
  EXPECT_EQ(folder.entries(), 2);
  ASSERT_EQ(write(file.descriptor, "new", 3), 3);
  ASSERT_TRUE(file.commit(error)) << error;
  EXPECT_EQ(contents(target), "new");
  EXPECT_EQ(folder.entries(), 1);

  OutputFile abandoned;
  ASSERT_TRUE(abandoned.reserve(target, "write", "test", error)) << error;
  abandoned.discard();
  EXPECT_EQ(contents(target), "new");
  EXPECT_EQ(folder.entries(), 1);
}

TEST(OutputFile, RefusesTargetsThatCannotBeWrittenWithOneLineAndLeavesNothing) {
  Folder folder;
  std::ofstream(folder.at("plain")) << "x";
  std::filesystem::create_directory(folder.path / "taken.png");
  mkfifo(folder.at("fifo.png").c_str(), 0644);
  struct Case {
    std::string target, why;
  };
  const Case cases[] = {
      {folder.at("missing/shot.png"), "does not exist"},        {folder.at("taken.png"), "it is a directory"},
      {folder.at("fifo.png"), "it is not a regular file"},      {folder.at("plain/shot.png"), "does not exist"},
      {folder.at(std::string(256, 'x')), "File name too long"}, {"/proc/shot.png", "cannot write in /proc"},
  };
  for (const Case& c : cases) {
    OutputFile file;
    std::string error;
    EXPECT_FALSE(file.reserve(c.target, "write", "test", error)) << c.target;
    EXPECT_EQ(error.rfind("cannot write " + c.target + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(c.why), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
  EXPECT_EQ(folder.entries(), 3);
}

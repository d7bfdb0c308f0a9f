// Automatic sync between two machines against what people's editors,
// crashes and full disks do to a shared folder. Every row of the table
// acts on Ann's and Bob's copies of one shared folder; every row is judged
// by the same rule once things settle:
//   - every version a person saved last on either side is on both machines,
//     under its name or as a conflict copy of it;
//   - nothing appears that nobody wrote;
//   - no deletion or rename a person made is undone;
//   - "svn status" is clean on both sides and both trees are equal (what
//     cannot be versioned at all stays out, and the board says so).
#include "team_harness.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <optional>
#include <set>

#include <fcntl.h>

namespace {

using namespace korvane::team;

// A long name's conflict copy may carry its stem cut short.
bool IsConflictCopyOf(const std::string& copy, const std::string& name) {
  const std::size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  const std::size_t marker = copy.find(" (conflict, ");
  return marker != std::string::npos && marker <= stem.size() && stem.compare(0, marker, copy, 0, marker) == 0;
}

// What each person did, as the judge needs it.
struct Record {
  std::map<std::string, std::optional<std::string>> last[2];  // per side: path -> last content, nullopt: removed
  std::set<std::string> written;                               // every content anyone saved
  std::set<std::string> leftOut;                               // names that cannot be versioned
};

enum Side { kAnn = 0, kBob = 1 };
const std::string kWho[] = {"ann", "bob"};
class SyncSafety;

struct Row {
  const char* name;
  std::function<void(SyncSafety&)> act;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// Queues steps in the working copy at folder, as an operation stopped half
// way leaves them; steps are shell-quoted work items.
void Queue(const std::string& folder, const std::string& steps) {
  const std::string queue =
      "import sqlite3, sys\n"
      "db = sqlite3.connect(sys.argv[1])\n"
      "for work in sys.argv[2:]: db.execute('INSERT INTO work_queue(work) VALUES (?)', (work.encode(),))\n"
      "db.commit()\n";
  Run("python3 -c " + Quoted(queue) + " " + Quoted(folder + "/.svn/wc.db") + " " + steps);
}

class SyncSafety : public Team, public ::testing::WithParamInterface<Row> {
 public:
  TeamServer& Server() { return *server_; }
  // Runs after the judge, before the team goes.
  void Afterwards(std::function<void()> step) { afterwards_.push_back(std::move(step)); }
  void TearDown() override {
    for (auto& step : afterwards_) step();
  }
  Machine& Of(Side side) const { return side == kAnn ? *ann_ : *bob_; }
  std::string Folder(Side side) const { return Of(side).Files("plans"); }
  bool AtBob(const std::string& path, std::chrono::milliseconds limit = kArrival) {
    return Eventually([&] { return fs::exists(Folder(kBob) + "/" + path); }, limit);
  }
  using Team::WhileBobIsAway;

  void Save(Side side, const std::string& path, const std::string& content) {
    Write(Folder(side) + "/" + path, content);
    Saw(side, path, content);
  }
  // What side saved in a way of its own.
  // Rows save from two threads at once (a program rewriting a file while
  // the other side saves), so what is recorded is recorded under a lock.
  void Saw(Side side, const std::string& path, const std::string& content) {
    std::lock_guard lock(recording_);
    record_.last[side][path] = content;
    record_.written.insert(content);
  }
  // A removal (or a rename's old name) of what side sees, the other side's
  // versions there included (every row removes only what has arrived).
  void Remove(Side side, const std::string& path) {
    fs::remove_all(Folder(side) + "/" + path);
    for (auto& versions : record_.last) {
      for (auto& [known, content] : versions) {
        if (known == path || known.rfind(path + "/", 0) == 0) content.reset();
      }
    }
    record_.last[side][path].reset();
  }

  // The tree below folder: relative path -> content ("/" for a folder),
  // without Subversion's own folder and what cannot be versioned.
  std::map<std::string, std::string> Tree(const std::string& folder) const {
    std::map<std::string, std::string> tree;
    std::error_code error;
    for (fs::recursive_directory_iterator walk(folder, error), end; !error && walk != end; walk.increment(error)) {
      const std::string relative = walk->path().string().substr(folder.size() + 1);
      const std::string name = walk->path().filename().string();
      if ((name == ".svn" && walk->is_directory(error)) || record_.leftOut.contains(relative) ||
          name == ".DS_Store") {
        walk.disable_recursion_pending();
        continue;
      }
      tree[relative] = walk->is_directory(error) ? "/" : ReadAll(walk->path().string());
    }
    return tree;
  }
  // svn status -q shows nothing: it leaves out what is not versioned, and
  // the trees' equality shows that nothing was left out that should not be.
  // A name that is not UTF-8 stops svn status itself; its folder is judged
  // without it.
  bool Clean(Side side) const {
    const Outcome status = Of(side).Svn("status -q " + Quoted(Folder(side)));
    if (status.status == 0) return status.output.empty();
    return status.output.find("to UTF-8") != std::string::npos &&
           std::any_of(record_.leftOut.begin(), record_.leftOut.end(), [](const std::string& name) {
             return std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0xF8; });
           });
  }
  bool Settled() const { return Clean(kAnn) && Clean(kBob) && Tree(Folder(kAnn)) == Tree(Folder(kBob)); }
  std::string Shown(Side side) const {
    return kWho[side] + " status:\n" + Of(side).Svn("status " + Quoted(Folder(side))).output + kWho[side] +
           " tree:\n" + Shell("cd " + Quoted(Folder(side)) + " && find . -path ./.svn -prune -o -print").output +
           kWho[side] + " log:\n" + Of(side).Log();
  }

  // The one rule every row is judged by.
  void Judge() {
    const bool settled = Eventually([&] { return Settled(); }, 40s);
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(settled && Settled()) << "not settled\n" << Shown(kAnn) << Shown(kBob);
    for (const Side side : {kAnn, kBob}) {
      const auto tree = Tree(Folder(side));
      const std::string where = kWho[side] + "'s";
      for (const Side saver : {kAnn, kBob}) {
        const std::string& who = kWho[saver];
        for (const auto& [path, content] : record_.last[saver]) {
          if (content) {
            const std::string name = fs::path(path).filename().string();
            const bool kept = std::any_of(tree.begin(), tree.end(), [&](const auto& entry) {
              const std::string there = fs::path(entry.first).filename().string();
              return entry.second == *content && (there == name || IsConflictCopyOf(there, name));
            });
            EXPECT_TRUE(kept) << who << "'s last version of " << path << " is not on " << where << " machine";
            continue;
          }
          // A deletion or rename stands unless the other side saved the path.
          const auto other = record_.last[1 - saver].find(path);
          if (other != record_.last[1 - saver].end() && other->second) continue;
          // A path removed and made anew (a file replaced by a folder) stands.
          const auto below = [&](const auto& entry) { return entry.second && entry.first.rfind(path + "/", 0) == 0; };
          const bool madeAnew = std::any_of(record_.last[kAnn].begin(), record_.last[kAnn].end(), below) ||
                                std::any_of(record_.last[kBob].begin(), record_.last[kBob].end(), below);
          if (madeAnew) continue;
          EXPECT_FALSE(tree.contains(path)) << path << ", removed by " << who << ", is back on " << where << " machine";
        }
      }
      for (const auto& [path, content] : tree) {
        if (content == "/" || content == "first words\n") continue;
        EXPECT_TRUE(record_.written.contains(content)) << path << " holds what nobody wrote: " << content.substr(0, 80);
      }
    }
    for (const std::string& name : record_.leftOut) {
      EXPECT_NE(ann_->Jobs().find("left out"), std::string::npos) << name << " left out unseen\n" << ann_->Jobs();
    }
  }

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ShareBetweenAnnAndBob());
    // Both daemons watch the folder and have made their first commit.
    for (const Side side : {kAnn, kBob}) {
      const std::string begins = "automatic commit and update of " + Folder(side) + " begins";
      ASSERT_TRUE(Eventually([&] { return Of(side).Log().find(begins) != std::string::npos; }));
    }
    std::this_thread::sleep_for(500ms);
  }

  Record record_;
  std::mutex recording_;
  std::vector<std::function<void()>> afterwards_;
};

std::string Big(std::size_t bytes, char fill) {
  std::string text(bytes, fill);
  for (std::size_t at = 0; at < bytes; at += 64) text[at] = '\n';
  return text;
}

const Row kRows[] = {
    {"both change a file whose name is near 255 bytes",
     [](SyncSafety& t) {
       const std::string name = std::string(246, 'n') + ".txt";
       t.Save(kAnn, name, "base\n");
       ASSERT_TRUE(t.AtBob(name));
       t.WhileBobIsAway([&] { t.Save(kAnn, name, "ann's long\n"); }, [&] { t.Save(kBob, name, "bob's long\n"); });
     }},
    {"deletes and renames wait while the other side's save arrives",
     [](SyncSafety& t) {
       for (int each = 0; each < 10; ++each) t.Save(kAnn, "branch/sub" + std::to_string(each) + "/f.txt", "sub\n");
       t.Save(kAnn, "branch/keep.txt", "keep\n");
       t.Save(kAnn, "old name.txt", "renamed\n");
       ASSERT_TRUE(t.AtBob("branch/sub9/f.txt") && t.AtBob("old name.txt")) << t.Shown(kAnn) << t.Shown(kBob);
       ASSERT_NO_FATAL_FAILURE(
           t.Of(kBob).Restart({"KORVANE_COMMIT_QUIET_MS=3000", "KORVANE_COMMIT_QUIET_MOST_MS=6000"}));
       // A rename is recorded as the removal of the old name and a save of the new.
       fs::rename(t.Folder(kBob) + "/branch", t.Folder(kBob) + "/trunk");
       t.Remove(kBob, "branch");
       t.Saw(kBob, "trunk/keep.txt", "keep\n");
       for (int each = 0; each < 10; ++each) t.Remove(kBob, "trunk/sub" + std::to_string(each));
       for (int each = 0; each < 50; ++each) t.Save(kBob, "trunk/new" + std::to_string(each) + ".txt", "new\n");
       fs::rename(t.Folder(kBob) + "/old name.txt", t.Folder(kBob) + "/new name.txt");
       t.Remove(kBob, "old name.txt");
       t.Saw(kBob, "new name.txt", "renamed\n");
       t.Save(kAnn, "from ann.txt", "arrives meanwhile\n");
     }},
    {"a file rewritten all the time against saves every so often",
     [](SyncSafety& t) {
       t.Save(kAnn, "busy.txt", "start\n");
       ASSERT_TRUE(t.AtBob("busy.txt"));
       // Ann's program rewrites the file from what it holds, never reading
       // what arrives; Bob saves now and then.
       std::thread ann([&] {
         for (int each = 0; each < 16; ++each) {
           t.Save(kAnn, "busy.txt", "ann " + std::to_string(each) + "\n");
           std::this_thread::sleep_for(300ms);
         }
       });
       for (int each = 0; each < 4; ++each) {
         t.Save(kBob, "busy.txt", "bob " + std::to_string(each) + "\n");
         std::this_thread::sleep_for(1000ms);
       }
       ann.join();
     }},
    {"editors' saves: through a temporary file, vim's way, a file replaced by a folder",
     [](SyncSafety& t) {
       t.Save(kAnn, "doc.txt", "first\n");
       t.Save(kAnn, "vim.txt", "first\n");
       t.Save(kAnn, "becomes folder", "a file\n");
       ASSERT_TRUE(t.AtBob("becomes folder"));
       const std::string a = t.Folder(kAnn);
       Write(a + "/.doc.txt.tmp", "saved through a temporary file\n");
       fs::rename(a + "/.doc.txt.tmp", a + "/doc.txt");
       t.Saw(kAnn, "doc.txt", "saved through a temporary file\n");
       fs::rename(a + "/vim.txt", a + "/vim.txt~");
       t.Save(kAnn, "vim.txt", "saved as vim does\n");
       fs::remove(a + "/vim.txt~");
       t.Remove(kAnn, "becomes folder");
       t.Save(kAnn, "becomes folder/inside.txt", "now a folder\n");
     }},
    {"two thousand files made and a thousand removed at once",
     [](SyncSafety& t) {
       for (int each = 0; each < 2000; ++each) t.Save(kAnn, "mass/" + std::to_string(each) + ".txt", "mass\n");
       for (int each = 0; each < 2000; each += 2) t.Remove(kAnn, "mass/" + std::to_string(each) + ".txt");
       t.Save(kBob, "meanwhile.txt", "bob meanwhile\n");
     }},
    {"six hundred versioned files rewritten at once, as a branch switch does",
     [](SyncSafety& t) {
       for (int each = 0; each < 600; ++each) t.Save(kAnn, "switch/" + std::to_string(each) + ".txt", "branch a\n");
       ASSERT_TRUE(t.AtBob("switch/599.txt", 30s)) << t.Shown(kAnn) << t.Shown(kBob);
       std::this_thread::sleep_for(1s);
       // Committed by their paths, the watches having seen every write.
       for (int each = 0; each < 600; ++each) {
         t.Save(kAnn, "switch/" + std::to_string(each) + ".txt", "branch b " + std::to_string(each) + "\n");
       }
       t.Save(kAnn, "switch/new.txt", "new on branch b\n");
     }},
    {"files changed while the daemon was away, and saved during its first walk",
     [](SyncSafety& t) {
       for (int each = 0; each < 400; ++each) {
         t.Save(kAnn, "tree/" + std::to_string(each % 20) + "/" + std::to_string(each) + ".txt", "before\n");
       }
       ASSERT_TRUE(t.AtBob("tree/19/399.txt", 30s)) << t.Shown(kAnn) << t.Shown(kBob);
       t.Of(kAnn).Stop();
       t.Save(kAnn, "away.txt", "written while the daemon was away\n");
       t.Save(kAnn, "tree/3/3.txt", "changed while the daemon was away\n");
       t.Remove(kAnn, "tree/4");
       t.Of(kAnn).Start();
       // While the first walk looks for what changed meanwhile.
       for (int each = 0; each < 400; each += 10) {
         t.Save(kAnn, "tree/" + std::to_string(each % 20) + "/" + std::to_string(each) + ".txt", "during the walk\n");
       }
       t.Save(kAnn, "during.txt", "saved during the first walk\n");
     }},
    {"files removed or changed while their commit's last steps were still queued",
     [](SyncSafety& t) {
       t.Save(kAnn, "it's recorded.txt", "recorded\n");
       t.Save(kAnn, "folder/inner.txt", "inner\n");
       t.Save(kAnn, "edited.txt", "committed\n");
       ASSERT_TRUE(t.AtBob("folder/inner.txt") && t.AtBob("edited.txt"));
       // A commit stopped before it set its files' permissions leaves those
       // steps queued in the working copy, where each clean-up runs them.
       t.Of(kAnn).Stop();
       ASSERT_NO_FATAL_FAILURE(Queue(t.Folder(kAnn), "\"(file-commit 17 it's recorded.txt)\""
                                                     " '(file-commit folder/inner.txt)' '(file-commit edited.txt)'"));
       t.Remove(kAnn, "it's recorded.txt");
       t.Remove(kAnn, "folder");
       // The queued step records the file as it is when it runs.
       t.Save(kAnn, "edited.txt", "changed while the daemon was away\n");
       t.Of(kAnn).Start();
       t.Save(kAnn, "after.txt", "after the queued steps\n");
     }},
    {"a file saved while the daemon was away, over an update's last step still queued",
     [](SyncSafety& t) {
       t.Save(kAnn, "report.txt", "first\n");
       ASSERT_TRUE(t.AtBob("report.txt"));
       // An update stopped before it put what it brought in place leaves that
       // step queued: the clean-up puts the recorded version over the file.
       t.Of(kAnn).Stop();
       // Numbers are atoms of explicit length ("1 0" is "0").
       ASSERT_NO_FATAL_FAILURE(Queue(t.Folder(kAnn), "'(file-install report.txt 1 0 1 1)'"));
       t.Save(kAnn, "report.txt", "saved while the daemon was away\n");
       t.Of(kAnn).Start();
     }},
    {"a folder tree made and removed, and files saved on both sides, while the server was away",
     [](SyncSafety& t) {
       t.Server().Stop();
       t.Save(kAnn, "trip/day1/photo.txt", "photo\n");
       t.Save(kAnn, "trip/day2/notes.txt", "notes\n");
       t.Save(kBob, "bob away.txt", "bob wrote too\n");
       std::this_thread::sleep_for(1500ms);
       EXPECT_NE(t.Of(kAnn).Log().find("tried again in"), std::string::npos) << t.Of(kAnn).Log();
       t.Remove(kAnn, "trip");
       t.Server().Start();
       t.Save(kAnn, "after.txt", "after the server came back\n");
       // Both catch up within a few retries, not at the next full update.
       EXPECT_TRUE(Eventually([&] { return fs::exists(t.Folder(kBob) + "/after.txt"); }, 8s)) << t.Shown(kAnn);
       EXPECT_TRUE(Eventually([&] { return fs::exists(t.Folder(kAnn) + "/bob away.txt"); }, 8s)) << t.Shown(kBob);
     }},
    {"a path deeper than 4000 bytes, made and removed",
     [](SyncSafety& t) {
       // Made folder by folder: the whole path is longer than a system call takes.
       int at = open(t.Folder(kAnn).c_str(), O_DIRECTORY);
       for (int level = 0; level < 42; ++level) {
         const std::string name = level == 0 ? "deep" : std::string(100, 'd');
         ASSERT_EQ(mkdirat(at, name.c_str(), 0755), 0);
         const int inner = openat(at, name.c_str(), O_DIRECTORY);
         close(at);
         at = inner;
       }
       const int file = openat(at, "bottom.txt", O_WRONLY | O_CREAT, 0644);
       ASSERT_EQ(write(file, "bottom\n", 7), 7);
       close(file);
       close(at);
       std::this_thread::sleep_for(1500ms);
       ASSERT_NO_FATAL_FAILURE(Run("rm -rf " + Quoted(t.Folder(kAnn) + "/deep")));
       t.Save(kAnn, "after.txt", "after the deep path\n");
     }},
    {"a FIFO, a socket, names Subversion refuses and a nested working copy beside saved files",
     [](SyncSafety& t) {
       const std::string a = t.Folder(kAnn);
       ASSERT_EQ(mkfifo((a + "/pipe").c_str(), 0644), 0);
       ASSERT_EQ(mknod((a + "/socket").c_str(), S_IFSOCK | 0644, 0), 0);
       Write(a + "/line\nbreak.txt", "x\n");
       Write(a + "/sub/.svn", "a file named like the administrative folder\n");
       const std::string other = fs::path(a).parent_path().string() + "/other-repository";
       ASSERT_NO_FATAL_FAILURE(Run("svnadmin create " + Quoted(other)));
       ASSERT_NO_FATAL_FAILURE(Run("svn checkout -q file://" + Quoted(other) + " " + Quoted(a + "/nested")));
       t.record_.leftOut = {"pipe", "socket", "line\nbreak.txt", "sub/.svn", "nested"};
       t.Save(kAnn, "beside.txt", "beside what cannot be versioned\n");
       t.Save(kAnn, "sub/ok.txt", "fine\n");
       t.Save(kBob, "from bob.txt", "bob's file\n");
     }},
    {"a name that is not UTF-8, reported, then renamed",
     [](SyncSafety& t) {
       const std::string bad = t.Folder(kAnn) + "/bad\xff\xfe.txt";
       Write(bad, "saved under a bad name\n");
       t.record_.leftOut = {"bad\xff\xfe.txt"};
       t.Save(kAnn, "beside.txt", "beside the bad name\n");
       // Subversion cannot list the folder: the person is told which name to change.
       ASSERT_TRUE(Eventually([&] { return t.Of(kAnn).Jobs().find("is not UTF-8") != std::string::npos; }))
           << t.Of(kAnn).Jobs();
       fs::rename(bad, t.Folder(kAnn) + "/renamed.txt");
       t.record_.leftOut.clear();
       t.Saw(kAnn, "renamed.txt", "saved under a bad name\n");
     }},
    {"names Subversion's developer ignores match",
     [](SyncSafety& t) {
       for (const char* name : {"main.o", "lib.so", "lib.a", "x.pyc", "__pycache__/m.pyc", "backup~", "#auto#",
                                ".#lock", "edit.swp", "patch.rej", "Thumbs.db.txt"}) {
         t.Save(kAnn, name, std::string("content of ") + name + "\n");
       }
       Write(t.Folder(kAnn) + "/.DS_Store", "clutter\n");
       // Clutter stays out, and the board says so.
       EXPECT_TRUE(Eventually([&] {
         return t.Of(kAnn).Jobs().find("left out system clutter") != std::string::npos;
       })) << t.Of(kAnn).Jobs();
       EXPECT_TRUE(Eventually([&] { return fs::exists(t.Folder(kBob) + "/main.o"); }));
       EXPECT_FALSE(fs::exists(t.Folder(kBob) + "/.DS_Store"));
     }},
    {"a file written in two steps with a pause",
     [](SyncSafety& t) {
       Write(t.Folder(kAnn) + "/two steps.txt", "");
       std::this_thread::sleep_for(800ms);
       t.Save(kAnn, "two steps.txt", "the second step\n");
       ASSERT_TRUE(Eventually([&] { return ReadAll(t.Folder(kBob) + "/two steps.txt") == "the second step\n"; }));
       // One revision ("rN | user | date" below a line of dashes): the file was never committed empty.
       const std::string log = t.Of(kAnn).Svn("log -q " + Quoted(t.Folder(kAnn) + "/two steps.txt")).output;
       const std::size_t first = log.find("\nr");
       EXPECT_TRUE(first != std::string::npos && log.find("\nr", first + 1) == std::string::npos) << log;
     }},
    {"a sparse file",
     [](SyncSafety& t) {
       const std::string file = t.Folder(kAnn) + "/sparse.img";
       ASSERT_NO_FATAL_FAILURE(Run("truncate -s 64M " + Quoted(file) + " && printf end >> " + Quoted(file)));
       t.Saw(kAnn, "sparse.img", ReadAll(file));
       const std::string there = t.Folder(kBob) + "/sparse.img";
       ASSERT_TRUE(Eventually([&] { return fs::exists(there) && fs::file_size(there) > 64u << 20; }, 30s));
       struct stat status {};
       ASSERT_TRUE(Eventually([&] { return stat(there.c_str(), &status) == 0 && status.st_blocks * 512 < (8 << 20); }))
           << status.st_blocks * 512 << " bytes taken";
     }},
    {"a full disk during an update",
     [](SyncSafety& t) {
       if (geteuid() != 0) GTEST_SKIP() << "a small tmpfs takes root to mount";
       const std::string b = t.Folder(kBob);
       t.Of(kBob).Stop();
       ASSERT_NO_FATAL_FAILURE(Run("cp -a " + Quoted(b) + " " + Quoted(b + ".away")));
       const Outcome mounted = Shell("mount -t tmpfs -o size=24m tmpfs " + Quoted(b));
       if (mounted.status != 0) GTEST_SKIP() << "no tmpfs could be mounted: " << mounted.output;
       t.Afterwards([&t, b] {
         t.Of(kBob).Stop();
         Shell("umount -l " + Quoted(b));
       });
       ASSERT_NO_FATAL_FAILURE(Run("cp -a " + Quoted(b + ".away/.") + " " + Quoted(b)));
       fs::remove_all(b + ".away");
       t.Of(kBob).Start();
       ASSERT_NO_FATAL_FAILURE(Run("dd if=/dev/zero of=" + Quoted(b + "/.svn/filler") + " bs=1M count=14 2>/dev/null"));
       t.Save(kAnn, "large.bin", Big(6 << 20, 'f'));
       const std::string full = "the disk holding " + b + " is full";
       ASSERT_TRUE(Eventually([&] { return t.Of(kBob).Log().find(full) != std::string::npos; }, 15s))
           << t.Of(kBob).Log();
       std::this_thread::sleep_for(2s);
       const std::string log = t.Of(kBob).Log();
       EXPECT_EQ(log.find(full), log.rfind(full)) << "reported more than once\n" << log;
       fs::remove(b + "/.svn/filler");
     }},
    {"the daemon killed during a large commit",
     [](SyncSafety& t) {
       for (int each = 0; each < 300; ++each) t.Save(kAnn, "many/" + std::to_string(each) + ".txt", Big(20000, 'a'));
       ASSERT_TRUE(Eventually([&] { return fs::exists(t.Folder(kAnn) + "/.svn/wc.db-journal") ||
                                           t.Of(kAnn).Log().find("committed", 0) != std::string::npos; }, 5s));
       std::this_thread::sleep_for(300ms);
       t.Of(kAnn).Stop(SIGKILL);
       t.Of(kAnn).Start();
       t.Save(kAnn, "after.txt", "after the crash\n");
     }},
    {"the daemon killed during a large update",
     [](SyncSafety& t) {
       t.Of(kBob).Stop();
       const std::size_t before = t.Of(kAnn).Log().size();
       for (int each = 0; each < 300; ++each) t.Save(kAnn, "many/" + std::to_string(each) + ".txt", Big(20000, 'b'));
       t.Save(kAnn, "large.bin", Big(30 << 20, 'l'));
       ASSERT_TRUE(t.Of(kAnn).CommitsAfter(before)) << t.Of(kAnn).Log();
       std::this_thread::sleep_for(2s);
       t.Of(kBob).Start();
       std::this_thread::sleep_for(1200ms);
       t.Of(kBob).Stop(SIGKILL);
       t.Of(kBob).Start();
       t.Save(kBob, "after.txt", "after the crash\n");
     }},
};

TEST_P(SyncSafety, LosesNothingResurrectsNothingAndSettles) {
  ASSERT_NO_FATAL_FAILURE(GetParam().act(*this));
  Judge();
}

INSTANTIATE_TEST_SUITE_P(Rows, SyncSafety, ::testing::ValuesIn(kRows), [](const auto& row) {
  std::string name;
  for (const char* at = row.param.name; *at != '\0'; ++at) name += std::isalnum(*at) ? *at : '_';
  return name;
});

}  // namespace

// A captured machine's files held in memory, links and all. An archive of a capture made on
// Linux is read into one on a system whose folders cannot hold the capture as it was (on
// Windows, sysfs's many links do not survive a copy). Every path is resolved inside the tree:
// a link that climbs above the tree's top or names an absolute path leads nowhere.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kyvex::platform {

class CaptureTree {
 public:
  enum class Kind { Folder, File, Link };
  struct Node {
    Kind kind = Kind::Folder;
    std::string data;  // a file's bytes, a link's target
  };

  // Paths are relative ("sys/block/sda"), clean (no "." or "..", no empty parts). Each adds
  // the folders above it; false, with the reason, where the path lies in a file or a link, or
  // is there already (a folder may be named twice).
  bool AddFolder(const std::string& rel, std::string& why);
  bool AddFile(const std::string& rel, std::string data, std::string& why);
  bool AddLink(const std::string& rel, std::string target, std::string& why);

  enum class Outcome { Found, Missing, LeadsOut, Loop };
  struct Resolved {
    Outcome outcome = Outcome::Missing;
    std::string path;  // below the top, "" for the top itself (Found, or Missing at the last part)
  };
  // `path` ("/sys/block/sda/device" or relative) with every link followed, the last part's
  // too when `followLast`. Missing: a part is not there (`path` holds the resolved path when
  // only the last part is missing).
  Resolved Resolve(const std::string& path, bool followLast = true) const;

  const Node* Find(const std::string& resolved) const;
  // The names in a folder (a resolved path), in order.
  std::vector<std::string> List(const std::string& resolved) const;
  // Every link whose target leads out of the tree or into a loop, by its path.
  std::optional<std::string> FirstBadLink(std::string& why) const;

  // The folder `rel` (resolved) as a tree of its own: links that climbed out of it lead
  // nowhere there.
  std::shared_ptr<const CaptureTree> Subtree(const std::string& rel) const;
  std::size_t Size() const { return nodes_.size(); }

 private:
  bool AddParents(const std::string& rel, std::string& why);
  std::map<std::string, Node> nodes_{{"", Node{}}};
};

}  // namespace kyvex::platform

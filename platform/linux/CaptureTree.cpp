#include "platform/linux/CaptureTree.h"

#include <algorithm>

namespace kyvex::platform {

namespace {

std::vector<std::string> Parts(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at <= path.size()) {
    const std::size_t slash = std::min(path.find('/', at), path.size());
    if (slash > at) parts.push_back(path.substr(at, slash - at));
    at = slash + 1;
  }
  return parts;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : "/") + p;
  return out;
}

constexpr int kMaxLinks = 40;  // as the kernel follows them

}  // namespace

bool CaptureTree::AddParents(const std::string& rel, std::string& why) {
  const auto parts = Parts(rel);
  std::string at;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    at += (at.empty() ? "" : "/") + parts[i];
    auto it = nodes_.find(at);
    if (it == nodes_.end()) {
      nodes_.emplace(at, Node{});
    } else if (it->second.kind != Kind::Folder) {
      why = "lies in \"" + at + "\", which is " + (it->second.kind == Kind::Link ? "a link" : "a file") +
            ", not a folder of the archive";
      return false;
    }
  }
  return true;
}

bool CaptureTree::AddFolder(const std::string& rel, std::string& why) {
  if (!AddParents(rel, why)) return false;
  auto [it, added] = nodes_.emplace(Join(Parts(rel)), Node{});
  if (!added && it->second.kind != Kind::Folder) {
    why = "appears twice in the archive";
    return false;
  }
  return true;
}

bool CaptureTree::AddFile(const std::string& rel, std::string data, std::string& why) {
  if (!AddParents(rel, why)) return false;
  if (!nodes_.emplace(Join(Parts(rel)), Node{Kind::File, std::move(data)}).second) {
    why = "appears twice in the archive";
    return false;
  }
  return true;
}

bool CaptureTree::AddLink(const std::string& rel, std::string target, std::string& why) {
  if (!AddParents(rel, why)) return false;
  if (!nodes_.emplace(Join(Parts(rel)), Node{Kind::Link, std::move(target)}).second) {
    why = "appears twice in the archive";
    return false;
  }
  return true;
}

CaptureTree::Resolved CaptureTree::Resolve(const std::string& path, bool followLast) const {
  std::vector<std::string> todo = Parts(path);
  std::reverse(todo.begin(), todo.end());  // taken from the back
  std::vector<std::string> at;
  int links = 0;
  while (!todo.empty()) {
    const std::string part = todo.back();
    todo.pop_back();
    if (part == ".") continue;
    if (part == "..") {
      if (at.empty()) return {Outcome::LeadsOut, {}};
      at.pop_back();
      continue;
    }
    at.push_back(part);
    const std::string joined = Join(at);
    const auto it = nodes_.find(joined);
    if (it == nodes_.end()) {
      if (todo.empty()) return {Outcome::Missing, joined};
      return {Outcome::Missing, {}};
    }
    if (it->second.kind != Kind::Link || (todo.empty() && !followLast)) continue;
    if (++links > kMaxLinks) return {Outcome::Loop, {}};
    const std::string& target = it->second.data;
    if (target.empty() || target[0] == '/') return {Outcome::LeadsOut, {}};
    at.pop_back();
    auto parts = Parts(target);
    for (auto p = parts.rbegin(); p != parts.rend(); ++p) todo.push_back(*p);
  }
  return {Outcome::Found, Join(at)};
}

const CaptureTree::Node* CaptureTree::Find(const std::string& resolved) const {
  const auto it = nodes_.find(resolved);
  return it == nodes_.end() ? nullptr : &it->second;
}

std::vector<std::string> CaptureTree::List(const std::string& resolved) const {
  std::vector<std::string> names;
  const Node* folder = Find(resolved);
  if (!folder || folder->kind != Kind::Folder) return names;
  const std::string prefix = resolved.empty() ? "" : resolved + "/";
  for (auto it = nodes_.lower_bound(prefix); it != nodes_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
       ++it) {
    if (it->first.size() == prefix.size()) continue;  // the top's own "" entry
    const std::string rest = it->first.substr(prefix.size());
    if (rest.find('/') == std::string::npos) names.push_back(rest);
  }
  return names;
}

std::optional<std::string> CaptureTree::FirstBadLink(std::string& why) const {
  for (const auto& [path, node] : nodes_) {
    if (node.kind != Kind::Link) continue;
    const Resolved r = Resolve(path);
    if (r.outcome == Outcome::LeadsOut) {
      why = "leading out of the archive's folder";
      return path;
    }
    if (r.outcome == Outcome::Loop) {
      why = "in a loop of links";
      return path;
    }
  }
  return std::nullopt;
}

std::shared_ptr<const CaptureTree> CaptureTree::Subtree(const std::string& rel) const {
  auto tree = std::make_shared<CaptureTree>();
  const std::string prefix = rel.empty() ? "" : rel + "/";
  for (auto it = nodes_.lower_bound(prefix); it != nodes_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
    if (it->first.size() > prefix.size()) tree->nodes_.emplace(it->first.substr(prefix.size()), it->second);
  return tree;
}

}  // namespace kyvex::platform

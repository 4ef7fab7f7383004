// Writing and reading the records of a quarantine folder. Every field is
// checked for its type as it is read: a damaged or hostile manifest makes
// a record be named and skipped, never the restore stop half way.
#include "tools/sorvane-offline/quarantine_journal.h"

#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "tools/sorvane-offline/host_names.h"

using nlohmann::json;

namespace quarantine {
namespace {

// A text field, and a byte field kept as a readable text with its exact
// bytes in NAME_b64 beside it.
void PutBytes(json* record, const char* key, const std::string& bytes) {
  (*record)[key] = names::Readable(bytes);
  (*record)[std::string(key) + "_b64"] = names::Base64(bytes);
}

// Reads the fields of one record; the first problem is kept.
struct Fields {
  const json& record;
  std::string problem;

  bool Fail(const std::string& what) {
    if (problem.empty()) problem = what;
    return false;
  }
  bool Text(const char* key, std::string* out, bool required = false) {
    auto it = record.find(key);
    if (it == record.end()) return !required || Fail(std::string("no \"") + key + "\"");
    if (!it->is_string()) return Fail(std::string("\"") + key + "\" is not a text");
    *out = it->get<std::string>();
    return true;
  }
  bool Bytes(const char* key, std::string* out, bool required = false) {
    std::string b64;
    const std::string b64Key = std::string(key) + "_b64";
    if (!record.contains(b64Key)) return Text(key, out, required);
    if (!Text(b64Key.c_str(), &b64) || !names::FromBase64(b64, out)) {
      return Fail("\"" + b64Key + "\" is not Base64");
    }
    return true;
  }
  bool Number(const char* key, uint64_t* out, bool required = false) {
    auto it = record.find(key);
    if (it == record.end()) return !required || Fail(std::string("no \"") + key + "\"");
    if (!it->is_number_unsigned()) return Fail(std::string("\"") + key + "\" is not a count");
    *out = it->get<uint64_t>();
    return true;
  }
  // A state the run left a file in: {"exists": bool, "sha256": text}.
  bool State(const char* key, json* out) {
    auto it = record.find(key);
    if (it == record.end() || it->is_null()) return true;
    if (!it->is_object() || !it->contains("exists") || !(*it)["exists"].is_boolean() ||
        (it->contains("sha256") && !(*it)["sha256"].is_string())) {
      return Fail(std::string("\"") + key + "\" is not a file state");
    }
    *out = *it;
    return true;
  }
};

bool ParseEntry(const json& record, Entry* e, std::string* problem) {
  if (!record.is_object()) {
    *problem = "not an object";
    return false;
  }
  Fields f{record, ""};
  uint64_t n = e->n;
  f.Number("n", &n);
  e->n = static_cast<size_t>(n);
  f.Text("type", &e->type);
  if (e->type != "file" && e->type != "hive") f.Fail("unknown type \"" + e->type + "\"");
  f.Text("path", &e->path, true);
  f.Bytes("host", &e->host);
  f.Bytes("root", &e->root);
  f.Bytes("rel", &e->rel);
  f.Bytes("renamed_to_rel", &e->renamedRel);
  f.Text("stored", &e->stored, true);
  f.Text("action", &e->action);
  f.Text("detection", &e->detection);
  f.Text("sha256", &e->sha256, true);
  f.Text("time", &e->time);
  f.Text("attributes", &e->attributes);
  f.Text("hive_write", &e->hiveWrite);
  f.Number("size", &e->size);
  f.State("after", &e->after);
  f.State("renamed_after", &e->renamedAfter);
  if (record.contains("volume")) {
    const json& v = record["volume"];
    Fields g{v, ""};
    if (!v.is_object() || !g.Text("kind", &e->volume.kind, true) || !g.Text("id", &e->volume.id) ||
        !g.Text("folder", &e->volume.folder)) {
      f.Fail("\"volume\" is not a volume identity");
    }
  }
  f.Bytes("renamed_to", &e->renamedHost);
  if (e->host.empty() && e->rel.empty()) f.Fail("no \"host\" nor \"rel\"");
  *problem = f.problem;
  return f.problem.empty();
}

Entry* Find(std::vector<Entry>* entries, size_t n) {
  for (auto& e : *entries) {
    if (e.n == n) return &e;
  }
  return nullptr;
}

// A note on an entry made earlier: its detection, the state the run left
// it in, or how its hive write went.
bool ApplyNote(const json& record, const std::string& type, std::vector<Entry>* entries, std::string* problem) {
  Fields f{record, ""};
  uint64_t n = 0;
  if (!f.Number("n", &n, true)) {
    *problem = f.problem;
    return false;
  }
  Entry* e = Find(entries, static_cast<size_t>(n));
  if (!e) {
    *problem = "names no entry before it";
    return false;
  }
  Entry copy = *e;
  if (type == "detection") {
    f.Text("detection", &copy.detection, true);
  } else if (type == "action") {
    f.Text("action", &copy.action, true);
  } else if (type == "after") {
    copy.after = nullptr;
    copy.renamedAfter = nullptr;
    f.State("after", &copy.after);
    f.State("renamed_after", &copy.renamedAfter);
  } else {
    f.Text("state", &copy.hiveWrite, true);
    f.State("after", &copy.after);
  }
  *problem = f.problem;
  if (!problem->empty()) return false;
  *e = copy;
  return true;
}

bool ReadJournal(const std::string& text, std::vector<Entry>* entries, std::vector<std::string>* problems,
                 bool* torn) {
  size_t start = 0, number = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    bool last = end == std::string::npos;
    std::string line = text.substr(start, last ? std::string::npos : end - start);
    start = last ? text.size() : end + 1;
    ++number;
    if (line.empty()) continue;
    json record = json::parse(line, nullptr, false);
    std::string problem, type;
    if (record.is_discarded() || !record.is_object()) {
      if (last) {
        *torn = true;
        continue;
      }
      problem = "not a JSON object";
    } else if (!record.contains("type") || !record["type"].is_string()) {
      problem = "no \"type\"";
    } else {
      type = record["type"].get<std::string>();
    }
    if (problem.empty()) {
      if (type == "file" || type == "hive") {
        Entry e;
        if (ParseEntry(record, &e, &problem)) {
          if (e.n == 0 || Find(entries, e.n)) {
            problem = "entry number " + std::to_string(e.n) + " is not new";
          } else {
            entries->push_back(e);
          }
        }
      } else if (type == "detection" || type == "action" || type == "after" || type == "hive_write") {
        ApplyNote(record, type, entries, &problem);
      } else if (type != "run" && type != "origin") {
        problem = "unknown type \"" + type + "\"";
      }
    }
    if (!problem.empty()) problems->push_back("manifest.jsonl line " + std::to_string(number) + ": " + problem);
  }
  return true;
}

bool ReadSummary(const std::string& text, std::vector<Entry>* entries, std::vector<std::string>* problems) {
  json doc = json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_object() || !doc.contains("entries") || !doc["entries"].is_array()) {
    problems->push_back("manifest.json holds no list of entries");
    return false;
  }
  size_t index = 0;
  for (const auto& record : doc["entries"]) {
    ++index;
    Entry e;
    e.n = index;
    std::string problem;
    if (ParseEntry(record, &e, &problem)) {
      entries->push_back(e);
    } else {
      problems->push_back("manifest.json entry " + std::to_string(index) + ": " + problem);
    }
  }
  return true;
}

bool Slurp(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  *text = all.str();
  return !in.bad();
}

}  // namespace

json EntryRecord(const Entry& e) {
  json r = {{"type", e.type}, {"n", e.n}, {"path", e.path}};
  if (!e.host.empty()) PutBytes(&r, "host", e.host);
  if (!e.root.empty()) {
    PutBytes(&r, "root", e.root);
    r["volume"] = {{"kind", e.volume.kind}, {"id", e.volume.id}, {"folder", e.volume.folder}};
    PutBytes(&r, "rel", e.rel);
  }
  if (!e.renamedHost.empty()) PutBytes(&r, "renamed_to", e.renamedHost);
  if (!e.renamedRel.empty()) PutBytes(&r, "renamed_to_rel", e.renamedRel);
  r["stored"] = e.stored;
  r["action"] = e.action;
  r["detection"] = e.detection;
  r["size"] = e.size;
  r["sha256"] = e.sha256;
  r["time"] = e.time;
  if (!e.attributes.empty()) r["attributes"] = e.attributes;
  if (!e.after.is_null()) r["after"] = e.after;
  if (!e.renamedAfter.is_null()) r["renamed_after"] = e.renamedAfter;
  if (!e.hiveWrite.empty()) r["hive_write"] = e.hiveWrite;
  return r;
}

bool ReadRecords(const std::string& dir, std::vector<Entry>* entries, std::vector<std::string>* problems,
                 bool* fromJournal, bool* torn) {
  std::string text;
  *torn = false;
  *fromJournal = Slurp(dir + "/manifest.jsonl", &text);
  if (*fromJournal) return ReadJournal(text, entries, problems, torn);
  if (!Slurp(dir + "/manifest.json", &text)) {
    problems->push_back("no manifest.jsonl or manifest.json in " + dir);
    return false;
  }
  return ReadSummary(text, entries, problems);
}

bool AppendRecord(int journal, const json& record) {
  std::string line = record.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = write(journal, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return fdatasync(journal) == 0;
}

}  // namespace quarantine

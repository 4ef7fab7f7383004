// What was removed from the emulated registry since a baseline copy, as a
// .reg file to apply elsewhere: "[-key]" for the topmost key of each removed
// subtree, "name"=- under its key header for each removed value. Values the
// machine provides itself are left out, and so is anything added.
#include "platform/emu/machine.h"
#include "platform/emu/reg_file.h"
#include "platform/emu/text_codec.h"

namespace emu {
namespace {

std::vector<std::shared_ptr<reg::Key>> baseline;
void ResetBaseline() {
  baseline.clear();
}
ResetHook baselineHook(ResetBaseline);

// A copy of a whole tree, made without recursion.
std::shared_ptr<reg::Key> Copy(const reg::Key* from) {
  auto top = std::make_shared<reg::Key>();
  std::vector<std::pair<const reg::Key*, reg::Key*>> pending = {{from, top.get()}};
  while (!pending.empty()) {
    auto [source, copy] = pending.back();
    pending.pop_back();
    copy->name = source->name;
    copy->values = source->values;
    copy->listed = source->listed;
    copy->spelled = source->spelled;
    for (const auto& s : source->subkeys) {
      auto child = std::make_shared<reg::Key>();
      child->parent = copy;
      copy->subkeys.push_back(child);
      pending.push_back({s.get(), child.get()});
    }
  }
  return top;
}

}  // namespace

void MarkRegistryBaseline() {
  baseline.clear();
  for (const auto& root : reg::Roots()) baseline.push_back(Copy(root.key.get()));
}

std::string RegistryChangesText(RegFormat format) {
  std::u16string text = regfile::Heading(format);
  std::vector<std::pair<const reg::Key*, reg::Key*>> pending;
  for (size_t i = baseline.size(); i-- > 0;) {
    pending.push_back({baseline[i].get(), reg::Roots()[i].key.get()});
  }
  while (!pending.empty()) {
    auto [before, now] = pending.back();
    pending.pop_back();
    if (!now) {
      text += u"[-" + reg::StoredPathOf(before, true) + u"]\r\n\r\n";
      continue;
    }
    std::u16string lines;
    for (const auto& v : before->values) {
      if (!v.provided && !reg::FindValue(now, v.name))
        lines += regfile::QuotedName(v.name) + u"=-\r\n";
    }
    if (!lines.empty()) text += u"[" + reg::StoredPathOf(before, true) + u"]\r\n" + lines + u"\r\n";
    for (auto it = before->subkeys.rbegin(); it != before->subkeys.rend(); ++it) {
      pending.push_back({it->get(), reg::Child(now, (*it)->name)});
    }
  }
  return regfile::Encode(text, format);
}

bool SaveRegistryChanges(const std::string& hostPath, RegFormat format, std::string* error) {
  return regfile::WriteHostFile(hostPath, RegistryChangesText(format), error);
}

}  // namespace emu

// qemu-storage-daemon: its command line, its QMP dialogue and its end.
#include "tools/sorvane-offline/qemu_export.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tools/sorvane-offline/mounts.h"

using nlohmann::json;

namespace {

// The format node of layer `i` of the chain with its backing files as
// explicit nodes: QEMU opens nothing the chain does not name, and guesses
// no format.
json Node(const ImageChain& chain, size_t i, bool writable) {
  const ImageLayer& layer = chain.layers[i];
  bool readOnly = !writable || i > 0;
  json node = {{"driver", layer.format},
               {"read-only", readOnly},
               {"file", {{"driver", "file"}, {"filename", layer.path}, {"read-only", readOnly}}}};
  if (layer.format == "qcow2" || layer.format == "vmdk") {
    node["backing"] = i + 1 < chain.layers.size() ? Node(chain, i + 1, false) : json(nullptr);
  }
  return node;
}

bool CreateEmpty(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  close(fd);
  return true;
}

}  // namespace

std::string QemuExport::LogText() const {
  std::ifstream in(folder_ + "/daemon.log");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

bool QemuExport::Start(const std::string& runFolder, const ImageChain& chain, bool writable,
                       const volatile int* stop, std::string* error) {
  folder_ = runFolder;
  disk_ = runFolder + "/disk";
  std::string socketPath = runFolder + "/qmp.sock";
  if (socketPath.size() >= sizeof(sockaddr_un{}.sun_path)) {
    *error = "the run folder " + runFolder + " is too long a path for a socket (set SORVANE_RUN_DIR)";
    return false;
  }
  unlink(disk_.c_str());
  if (!CreateEmpty(disk_)) {
    *error = "cannot create " + disk_ + ": " + std::strerror(errno);
    return false;
  }
  json top = Node(chain, 0, writable);
  top["node-name"] = "disk";
  json exportDisk = {{"type", "fuse"}, {"id", "disk"}, {"node-name", "disk"}, {"mountpoint", disk_},
                     {"writable", false}};
  pid_ = mounts::Spawn({"qemu-storage-daemon", "--blockdev", top.dump(), "--export", exportDisk.dump(),
                        "--chardev", "socket,id=qmp,path=" + socketPath + ",server=on,wait=off",
                        "--monitor", "chardev=qmp"},
                       runFolder + "/daemon.log", error);
  if (pid_ <= 0) {
    pid_ = 0;
    return false;
  }
  mounts::RecordProcess(runFolder, "daemon", pid_);
  if (!mounts::WaitForMount(disk_, pid_, 30, stop)) {
    std::string log = LogText();
    if (stop && *stop) *error = "stopped while QEMU opened the image";
    else if (log.empty()) *error = "QEMU did not export the image in time";
    else *error = "QEMU cannot open the image: " + log;
    Stop();
    return false;
  }
  qmp_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  bool connected = false;
  for (int attempt = 0; attempt < 500 && !connected; ++attempt) {
    connected = connect(qmp_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (!connected) {
      struct timespec t = {0, 10 * 1000 * 1000};
      nanosleep(&t, nullptr);
    }
  }
  if (!connected || !Command("{\"execute\":\"qmp_capabilities\"}", error)) {
    if (!connected) *error = "cannot reach QEMU's monitor: " + std::string(std::strerror(errno));
    Stop();
    return false;
  }
  return true;
}

// Sends one QMP command and reads up to its answer (events are skipped).
bool QemuExport::Command(const std::string& text, std::string* error) {
  std::string line = text + "\n";
  if (send(qmp_, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    *error = "QEMU's monitor is gone";
    return false;
  }
  for (;;) {
    size_t end;
    while ((end = pending_.find('\n')) == std::string::npos) {
      pollfd p = {qmp_, POLLIN, 0};
      char buffer[4096];
      int ready;
      do {
        ready = poll(&p, 1, 30000);  // a signal does not end the dialogue
      } while (ready < 0 && errno == EINTR);
      ssize_t n = ready == 1 ? recv(qmp_, buffer, sizeof buffer, 0) : -1;
      if (n <= 0) {
        *error = "no answer from QEMU's monitor";
        return false;
      }
      pending_.append(buffer, static_cast<size_t>(n));
    }
    json answer = json::parse(pending_.substr(0, end), nullptr, false);
    pending_.erase(0, end + 1);
    if (answer.is_discarded() || answer.contains("QMP") || answer.contains("event")) continue;
    if (answer.contains("error")) {
      *error = "QEMU: " + answer["error"].value("desc", std::string("error"));
      return false;
    }
    return true;
  }
}

bool QemuExport::ExportPartition(int index, uint64_t offset, uint64_t size, bool writable, std::string* path,
                                 std::string* error) {
  std::string id = "p" + std::to_string(index);
  *path = folder_ + "/" + id;
  unlink(path->c_str());
  if (!CreateEmpty(*path)) {
    *error = "cannot create " + *path + ": " + std::strerror(errno);
    return false;
  }
  json node = {{"execute", "blockdev-add"},
               {"arguments",
                {{"driver", "raw"}, {"node-name", id}, {"file", "disk"}, {"offset", offset},
                 {"size", size}, {"read-only", !writable}}}};
  json exportIt = {{"execute", "block-export-add"},
                   {"arguments",
                    {{"type", "fuse"}, {"id", id}, {"node-name", id}, {"mountpoint", *path},
                     {"writable", writable}}}};
  if (!Command(node.dump(), error)) return false;
  if (!Command(exportIt.dump(), error)) {
    std::string ignored;
    Command(json({{"execute", "blockdev-del"}, {"arguments", {{"node-name", id}}}}).dump(), &ignored);
    return false;
  }
  return true;
}

bool QemuExport::RemovePartition(int index, std::string* error) {
  std::string id = "p" + std::to_string(index);
  if (!Command(json({{"execute", "block-export-del"}, {"arguments", {{"id", id}}}}).dump(), error)) return false;
  // The export goes when its last user lets go; its node after it.
  for (int attempt = 0; attempt < 300; ++attempt) {
    if (!mounts::IsMountPoint(folder_ + "/" + id)) break;
    struct timespec t = {0, 10 * 1000 * 1000};
    nanosleep(&t, nullptr);
  }
  for (int attempt = 0; attempt < 300; ++attempt) {
    std::string ignored;
    if (Command(json({{"execute", "blockdev-del"}, {"arguments", {{"node-name", id}}}}).dump(), &ignored)) break;
    struct timespec t = {0, 10 * 1000 * 1000};
    nanosleep(&t, nullptr);
  }
  unlink((folder_ + "/" + id).c_str());
  return true;
}

void QemuExport::Stop() {
  if (qmp_ >= 0) {
    close(qmp_);
    qmp_ = -1;
  }
  pending_.clear();
  if (pid_ > 0) {
    // SIGTERM: QEMU flushes the image and removes its exports.
    mounts::Stop(pid_, 60);
    pid_ = 0;
  }
  // Exports of a daemon that died are dead mounts: undo them.
  // (Only the export files: an ntfs-3g mount is never cut from under.)
  for (const auto& m : mounts::MountsBelow(folder_)) {
    std::string name = m.substr(m.rfind('/') + 1);
    bool exportFile = name == "disk" || (name.size() > 1 && name[0] == 'p' &&
                                         name.find_first_not_of("0123456789", 1) == std::string::npos);
    std::string ignored;
    if (exportFile && m == folder_ + "/" + name) mounts::Unmount(m, 0, 0, &ignored);
  }
}

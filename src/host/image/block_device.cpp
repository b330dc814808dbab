#include "host/image/block_device.h"

#include <cerrno>
#include <cstring>

#include "host/image/programs.h"

namespace hostreg {

namespace {

// The NBD protocol's fixed newstyle handshake and simple replies.
constexpr char kServerMagic[] = "NBDMAGICIHAVEOPT";
constexpr uint32_t kFixedNewstyle = 1, kNoZeroes = 2;
constexpr uint32_t kOptionExportName = 1;
constexpr uint32_t kRequestMagic = 0x25609513, kReplyMagic = 0x67446698;
constexpr uint16_t kRead = 0, kWrite = 1, kDisconnect = 2, kFlush = 3;
// qemu-nbd takes requests of up to 32 MB.
constexpr size_t kMostPerRequest = 4 << 20;

void PutBe(std::string& out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i)
    out += static_cast<char>(value >> (8 * i));
}

uint64_t GetBe(const char* in, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i)
    value = value << 8 | static_cast<unsigned char>(in[i]);
  return value;
}

// A file name inside QEMU's options, where a comma is written twice.
std::string OptionValue(const std::string& text) {
  std::string out;
  for (const char c : text) out += c == ',' ? std::string(",,") : std::string(1, c);
  return out;
}

}  // namespace

bool BlockDevice::Available(Platform& platform, std::string& error) {
  if (platform.OnPath("qemu-nbd")) return true;
  error = "qemu-utils is missing (Debian package qemu-utils): images in "
          "formats other than raw are changed through QEMU's qemu-nbd";
  return false;
}

bool BlockDevice::Start(const std::string& path, const char* format,
                        bool writable, bool ignoreLocks, int lockFd,
                        std::string& error) {
  const std::string socketPath = workFolder_ + "/nbd.socket";
  platform_.Remove(socketPath.c_str());
  const int listening = platform_.Listen(socketPath.c_str());
  // Connected before the server starts: should this run end, the server
  // finds the connection closed and ends too.
  socket_ = listening < 0 ? -1 : platform_.Connect(socketPath.c_str());
  int out[2] = {-1, -1};
  if (socket_ < 0 || platform_.Pipe(out) != 0) {
    error = "cannot make a socket for qemu-nbd: " + Reason(errno);
    if (listening >= 0) platform_.Close(listening);
    return false;
  }
  std::string options = "driver=" + std::string(format) +
                        ",file.driver=file,file.filename=" + OptionValue(path);
  if (ignoreLocks) options += ",force-share=on";
  std::vector<std::string> argv{"qemu-nbd", "--image-opts", "--cache=writeback",
                                "--discard=ignore", "--detect-zeroes=off"};
  if (!writable) argv.push_back("--read-only");
  argv.push_back(options);
  Platform::Launch launch{argv, ChildEnvironment({"LISTEN_"}, {"LISTEN_FDS=1"}),
                          {-1, out[1], out[1], listening, lockFd}, true};
  launch.listenPid = true;
  const int code = platform_.Spawn(launch, server_);
  platform_.Close(listening);
  platform_.Close(out[1]);
  output_ = out[0];
  if (code != 0) {
    server_ = 0;
    error = code == ENOENT ? "qemu-utils is missing (Debian package "
                             "qemu-utils): cannot run qemu-nbd"
                           : "cannot run qemu-nbd: " + Reason(code);
    return false;
  }
  if (Handshake()) return true;
  error = ServerWords();
  return false;
}

// What the server said as it ended, once it has.
std::string BlockDevice::ServerWords() {
  if (socket_ >= 0) platform_.Close(socket_);
  socket_ = -1;
  std::string words;
  char buffer[4096];
  long got;
  while ((got = platform_.Read(output_, buffer, sizeof buffer)) > 0 ||
         (got < 0 && errno == EINTR))
    if (got > 0) words.append(buffer, static_cast<size_t>(got));
  int status = 0;
  if (server_ > 0) platform_.Wait(server_, status);
  server_ = 0;
  words = OneLine(words);
  if (words.compare(0, 10, "qemu-nbd: ") == 0) words.erase(0, 10);
  // "Failed to blk_new_open 'driver=...': Image is not in qcow2 format":
  // the reason, without the options this program made up.
  const size_t open = words.find("blk_new_open '");
  const size_t reason = words.find("': ", open);
  if (open != std::string::npos && reason != std::string::npos)
    words.erase(0, reason + 3);
  return words.empty() ? "qemu-nbd could not serve it (exit status " +
                             std::to_string(status) + ")"
                       : "QEMU: " + words;
}

bool BlockDevice::Handshake() {
  char hello[18];
  if (ReadFully(platform_, socket_, hello, sizeof hello) != sizeof hello ||
      std::memcmp(hello, kServerMagic, 16) != 0)
    return false;
  const uint64_t flags = GetBe(hello + 16, 2);
  if ((flags & kFixedNewstyle) == 0 || (flags & kNoZeroes) == 0) return false;
  std::string out;
  PutBe(out, kFixedNewstyle | kNoZeroes, 4);
  out += "IHAVEOPT";
  PutBe(out, kOptionExportName, 4);
  PutBe(out, 0, 4);  // the default export, which has no name
  char export_[10];
  if (WriteFully(platform_, socket_, out) != 0 ||
      ReadFully(platform_, socket_, export_, sizeof export_) != sizeof export_)
    return false;
  size_ = GetBe(export_, 8);
  return true;
}

bool BlockDevice::Request(uint16_t type, uint64_t offset, uint32_t length,
                          const char* data) {
  std::string out;
  PutBe(out, kRequestMagic, 4);
  PutBe(out, 0, 2);
  PutBe(out, type, 2);
  PutBe(out, ++handle_, 8);
  PutBe(out, offset, 8);
  PutBe(out, length, 4);
  if (data != nullptr) out.append(data, length);
  return WriteFully(platform_, socket_, out) == 0;
}

bool BlockDevice::Reply(char* data, size_t size) {
  char head[16];
  if (ReadFully(platform_, socket_, head, sizeof head) != sizeof head ||
      GetBe(head, 4) != kReplyMagic || GetBe(head + 8, 8) != handle_ ||
      GetBe(head + 4, 4) != 0)
    return false;
  return data == nullptr ||
         ReadFully(platform_, socket_, data, size) == static_cast<long>(size);
}

bool BlockDevice::Read(uint64_t offset, char* buffer, size_t size) {
  if (socket_ < 0 || offset + size > size_) return false;
  for (size_t done = 0; done < size;) {
    const size_t piece = std::min(size - done, kMostPerRequest);
    if (!Request(kRead, offset + done, static_cast<uint32_t>(piece), nullptr) ||
        !Reply(buffer + done, piece))
      return false;
    done += piece;
  }
  return true;
}

bool BlockDevice::WriteAll(const std::vector<Run>& runs) {
  for (const Run& run : runs)
    for (size_t done = 0; done < run.second.size();) {
      const size_t piece = std::min(run.second.size() - done, kMostPerRequest);
      if (!Request(kWrite, run.first + done, static_cast<uint32_t>(piece),
                   run.second.data() + done) ||
          !Reply(nullptr, 0))
        return false;
      done += piece;
    }
  if (!Request(kFlush, 0, 0, nullptr) || !Reply(nullptr, 0)) return false;
  std::string back;
  for (const Run& run : runs) {
    back.resize(run.second.size());
    if (!Read(run.first, &back[0], back.size()) || back != run.second)
      return false;
  }
  return true;
}

bool BlockDevice::Write(const std::vector<Run>& runs, std::string& error) {
  if (runs.empty()) return true;
  if (socket_ < 0) {
    error = "qemu-nbd is not serving the image";
    return false;
  }
  long pid = 0;
  int status = 1;
  const int code =
      platform_.Detach([this, &runs] { return WriteAll(runs) ? 0 : 1; }, pid);
  if (code == 0) platform_.Wait(pid, status);
  if (code == 0 && status == 0) return true;
  error = code != 0 ? "cannot start the writer: " + Reason(code)
                    : "writing through qemu-nbd failed; " + ServerWords();
  return false;
}

void BlockDevice::Stop() {
  if (socket_ >= 0) {
    Request(kDisconnect, 0, 0, nullptr);
    platform_.Close(socket_);
    socket_ = -1;
  }
  if (output_ >= 0) {
    if (server_ > 0) ServerWords();
    platform_.Close(output_);
    output_ = -1;
  }
}

}  // namespace hostreg

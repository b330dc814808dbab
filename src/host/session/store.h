// Where a registry's bytes come from and where its save goes: a file that
// the run locks, reads once and replaces whole (FileStore), or bytes that
// the caller hands over and takes back to keep elsewhere (MemoryStore: a
// SYSTEM.DAT copied out of a disk image).
#ifndef REGSWITCH_HOST_SESSION_STORE_H
#define REGSWITCH_HOST_SESSION_STORE_H

#include <functional>
#include <memory>
#include <string>

#include "host/files/file_bytes.h"
#include "host/files/locked_file.h"
#include "host/formats/registry_file.h"
#include "host/platform/platform.h"

namespace hostreg {

class RegistryStore {
 public:
  virtual ~RegistryStore() = default;

  // The registry's name in messages.
  virtual const std::string& name() const = 0;
  // Takes the store for the run and reads its bytes, once: a file is
  // locked first (shared when the run only reads), and `waiting` is told
  // once when that waits for another run. Null and why (naming the store)
  // when it cannot.
  virtual std::shared_ptr<const FileBytes> Read(
      bool readOnly, const std::function<void()>& waiting,
      std::string& error) = 0;
  // Once loaded, the bytes read are the version the check compares with.
  virtual void Seal() {}
  // Whether the store still holds that version; false and why.
  virtual bool Unchanged(std::string& error) const = 0;
  // Puts the rendering in place of what was read, whole or not at all;
  // false and why, the store then as it was.
  virtual bool Write(const Rendering& rendering, std::string& error) = 0;
  // Puts back what was read, after a later save of the run failed.
  virtual bool Restore(std::string& error) = 0;
  // Where the store kept what was read before a save replaced it; empty
  // when it kept nothing.
  virtual std::string Kept() const { return std::string(); }
  // Why a save would be refused before anything is written, for a dry run
  // to say so; empty when it could go ahead.
  virtual std::string SaveRefusal() { return std::string(); }
};

// `error` about a file that cannot be opened, with a word for a Windows
// path ("C:\\WINDOWS\\SYSTEM.DAT") given where this machine's path goes.
std::string WithPathHint(const std::string& path, std::string error);

// How long a run waits for another one on the same file.
constexpr unsigned kLockWaitMilliseconds = 30000;

class FileStore : public RegistryStore {
 public:
  FileStore(Platform& platform, std::string path)
      : platform_(platform), path_(std::move(path)), file_(platform) {}

  const std::string& name() const override { return path_; }
  std::shared_ptr<const FileBytes> Read(bool readOnly,
                                        const std::function<void()>& waiting,
                                        std::string& error) override;
  void Seal() override { file_.Seal(); }
  bool Unchanged(std::string& error) const override {
    return file_.Unchanged(error);
  }
  bool Write(const Rendering& rendering, std::string& error) override;
  bool Restore(std::string& error) override;
  std::string Kept() const override { return kept_; }

  // --backup: before a save replaces the file, the file as it was read is
  // kept beside it under a name no file has (see KeepCopy).
  void KeepBackups() { backup_ = true; }
  std::string SaveRefusal() override;

 private:
  Platform& platform_;
  const std::string path_;
  LockedFile file_;
  bool backup_ = false;
  std::string kept_;
};

class MemoryStore : public RegistryStore {
 public:
  MemoryStore(std::string name, std::string bytes)
      : name_(std::move(name)),
        bytes_(std::make_shared<const FileBytes>(std::move(bytes))) {}

  const std::string& name() const override { return name_; }
  std::shared_ptr<const FileBytes> Read(bool, const std::function<void()>&,
                                        std::string&) override {
    return bytes_;
  }
  // The bytes in memory cannot change; their caller guards where they
  // came from.
  bool Unchanged(std::string&) const override { return true; }
  bool Write(const Rendering& rendering, std::string&) override {
    written_ = rendering.Joined();
    wrote_ = true;
    return true;
  }
  bool Restore(std::string&) override {
    wrote_ = false;
    written_.clear();
    return true;
  }

  // What a save wrote, or null when nothing was.
  const std::string* written() const { return wrote_ ? &written_ : nullptr; }

 private:
  const std::string name_;
  const std::shared_ptr<const FileBytes> bytes_;
  std::string written_;
  bool wrote_ = false;
};

}  // namespace hostreg

#endif

// The common ancestor of the information components: where the data came from (collected
// live or loaded from a storage file), the description of the machine they belong to, and
// the operations every client drives a component through.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/KSI_Fields.h"
#include "platform/Platform.h"

namespace kyvex {

// An ownable component: an owner destroys the components it owns, last created first.
class TComponent {
 public:
  explicit TComponent(TComponent* AOwner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  const std::vector<TComponent*>& Components() const { return FComponents; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  const std::string& Name() const { return FName; }
  void SetName(const std::string& name) { FName = name; }
  std::intptr_t Tag() const { return FTag; }
  void SetTag(std::intptr_t tag) { FTag = tag; }

 private:
  TComponent* FOwner;
  std::vector<TComponent*> FComponents;
  std::string FName;
  std::intptr_t FTag = 0;
};

// Days since 1899-12-30; the fraction is the time of day.
using TDateTime = double;

// The machine and operating system a component's data belong to.
struct TStorageInfoRecord {
  std::string Title;   // what the file is, the same in every file
  std::string Author;  // who made the program that wrote it
  std::string MachineName;
  std::string Application;
  std::string OSName;
  std::int32_t Platform = 0;
  std::int32_t MajorVersion = 0;
  std::int32_t MinorVersion = 0;
  std::int32_t BuildNumber = 0;
  std::string CSDVersion;
  TDateTime CreationTime = 0;
  std::string AccountType;
  std::string LoggedUser;
  std::string Account;
  bool VMWare = false;
  bool VPC = false;

  bool operator==(const TStorageInfoRecord&) const = default;
};

// The header's values in the order a save writes them; those kept under the published ids of
// the summary information by their id (the ids go first: a name would take the lowest id
// free). Title and Author are the same in every file.
template <class Record, class Visitor>
void VisitStorageInfoFields(Record& r, Visitor&& v) {
  v(TField{.Name = "Title", .StoredId = 2}, r.Title);                     // PIDSI_TITLE
  v(TField{.Name = "Application", .StoredId = 18}, r.Application);       // PIDSI_APPNAME
  v(TField{.Name = "Author", .StoredId = 4}, r.Author);                   // PIDSI_AUTHOR
  v(TField{.Name = "OSName", .StoredId = 5}, r.OSName);                   // PIDSI_KEYWORDS
  v(TField{.Name = "MachineName", .StoredId = 3}, r.MachineName);         // PIDSI_SUBJECT
  v(TField{.Name = "CreationTime", .StoredId = 12, .DateTime = true}, r.CreationTime);  // PIDSI_CREATE_DTM
  v(TField{.Name = "LoggedUser", .Stored = "OS.LoggedUser"}, r.LoggedUser);
  v(TField{.Name = "Account", .Stored = "OS.Account"}, r.Account);
  v(TField{.Name = "Platform", .Stored = "OS.Platform"}, r.Platform);
  v(TField{.Name = "MajorVersion", .Stored = "OS.MajorVersion"}, r.MajorVersion);
  v(TField{.Name = "MinorVersion", .Stored = "OS.MinorVersion"}, r.MinorVersion);
  v(TField{.Name = "BuildNumber", .Stored = "OS.BuildNumber"}, r.BuildNumber);
  v(TField{.Name = "CSDVersion", .Stored = "OS.CSD"}, r.CSDVersion);
  v(TField{.Name = "AccountType", .StoredId = 19}, r.AccountType);        // PIDSI_DOC_SECURITY
  v(TField{.Name = "VMWare"}, r.VMWare);
  v(TField{.Name = "VPC"}, r.VPC);
}

// This machine's header as a save writes it now.
TStorageInfoRecord CurrentStorageInfo();

class TKyvex_KSIC_Component;
class TStructuredSTorage;

// One write for the saves of several components. While one lives on this thread, every
// component's save to its file goes into the one storage it opened, and nothing reaches the
// disk before Commit, which replaces the file once: the file holds the whole new save, or (an
// error, a kill, no Commit) what it held before, never a mix.
class TStorageFileSave {
 public:
  explicit TStorageFileSave(const std::string& FileName);
  ~TStorageFileSave();
  TStorageFileSave(const TStorageFileSave&) = delete;
  TStorageFileSave& operator=(const TStorageFileSave&) = delete;
  // Writes the file; raises EOleSysError when that fails (the file then is as it was).
  void Commit();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// The largest storage file read. Every processor, SMBIOS table and device of the largest
// machines fits in a few megabytes; a larger file is damage or an attack.
inline constexpr std::uint64_t kMaxStorageFileSize = std::uint64_t{64} << 20;

// One image of a storage file for the loads of several components. While one lives on this
// thread, every component's load from its file reads the bytes the file held when the image
// was taken: a file replaced meanwhile cannot mix into what is read, and the file is read once.
class TStorageFileImage {
 public:
  explicit TStorageFileImage(const std::string& FileName);
  ~TStorageFileImage();
  TStorageFileImage(const TStorageFileImage&) = delete;
  TStorageFileImage& operator=(const TStorageFileImage&) = delete;

  struct State;

 private:
  std::unique_ptr<State> state_;
};
using TOnDebugEvent = std::function<void(TKyvex_KSIC_Component* Sender, std::string Msg)>;

// The author text the storage-file header carries.
std::string StorageFileAuthor();

// A calendar time as a date-time.
TDateTime SystemTimeToDateTime(const platform::SystemTime& t);

// The family's name and version, as the about text and the storage-file header give them.
inline constexpr const char* kKyvexFamilyName = "Kyvex System Information Component Suite";
inline constexpr const char* kKyvexFamilyVersion = "10.2.0";

class TKyvex_KSIC_Component : public TComponent {
 public:
  explicit TKyvex_KSIC_Component(TComponent* AOwner = nullptr);
  ~TKyvex_KSIC_Component() override = default;

  const std::string& _About() const { return F_About; }
  const std::string& _Refresh() const { return F_Refresh; }
  const TOnDebugEvent& OnDebug() const { return FOnDebug; }
  void SetOnDebug(TOnDebugEvent handler) { FOnDebug = std::move(handler); }
  const std::string& StorageFileName() const { return FStorageFileName; }
  bool LiveData() const { return FLiveData; }
  const TStorageInfoRecord& StorageInfo() const { return FStorageInfo; }

  // Gathers live data. Overrides call this first.
  virtual void CollectData();
  // Writes the data into the storage file `FileName`; the base writes the summary header.
  virtual void SaveToStorageFile(const std::string& FileName);
  // Reads the data from the storage file `FileName`; the base reads the summary header and
  // answers whether the file is a storage file at all.
  virtual bool LoadFromStorageFile(const std::string& FileName);

 protected:
  void SetLiveData(bool value) { FLiveData = value; }

  // The steps every component's own storage goes through, after the base save or load.
  // Save: opens the file again, removes the component's top-level storage `StorageName`,
  // creates it anew, lets `write` fill it and commits the file. Raises EOleSysError.
  static void SaveComponentStorage(const std::string& FileName, const std::string& StorageName,
                                   const std::function<void(TStructuredSTorage&)>& write);
  // Load: when the file is a storage file holding `StorageName`, lets `read` take the
  // component's data from it and answers true; false when the file holds no such storage
  // (not an error). Raises EOleSysError when the file cannot be opened.
  static bool LoadComponentStorage(const std::string& FileName, const std::string& StorageName,
                                   const std::function<void(TStructuredSTorage&)>& read);
  TStorageInfoRecord FStorageInfo;
  std::string FStorageFileName;

 private:
  std::string F_About;
  std::string F_Refresh;
  TOnDebugEvent FOnDebug;
  bool FLiveData = true;
};

}  // namespace kyvex

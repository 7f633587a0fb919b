#include "platform/fake/FakeDevice.h"

#include <cstring>

#include "platform/Text.h"

namespace kyvex::platform {

using namespace devio;

std::string FakeDevice::Key(const std::string& path) { return text::AsciiUpper(path); }

FakeDeviceEntry& FakeDevice::Device(const std::string& path) { return devices_[Key(path)]; }

bool FakeDevice::HasDevice(const std::string& path) const { return devices_.count(Key(path)) != 0; }

void FakeDevice::Reply(const std::string& path, std::uint32_t code, std::vector<std::uint8_t> data) {
  FakeIoRule rule;
  rule.code = code;
  rule.reply.data = std::move(data);
  Device(path).rules.push_back(std::move(rule));
}

void FakeDevice::Fail(const std::string& path, std::uint32_t code, std::uint32_t error) {
  FakeIoRule rule;
  rule.code = code;
  rule.reply.ok = false;
  rule.reply.error = error;
  Device(path).rules.push_back(std::move(rule));
}

void FakeDevice::SmartReply(const std::string& path, std::uint8_t command, std::optional<std::uint8_t> features,
                            const std::array<std::uint8_t, 512>& data, std::uint8_t driverError,
                            std::optional<std::uint8_t> drive) {
  FakeIoRule rule;
  rule.code = kSmartRcvDriveData;
  rule.accepts = [command, features, drive](BlockView input) {
    const auto in = SmartCommandIn::Decode(input);
    return in && in->command == command && (!features || in->features == *features) &&
           (!drive || in->driveNumber == *drive);
  };
  rule.reply.data.assign(data.begin(), data.end());
  rule.reply.driverError = driverError;
  Device(path).rules.push_back(std::move(rule));
}

void FakeDevice::PassThroughReply(const std::string& path, std::uint8_t opcode, std::optional<std::uint8_t> page,
                                  std::vector<std::uint8_t> data, std::uint8_t scsiStatus) {
  FakeIoRule rule;
  rule.code = kScsiPassThrough;
  rule.accepts = [opcode, page](BlockView input) {
    if (input.size() < kNativePassThrough.length) return false;
    const PassThroughRequest r = ReadPassThroughHeader(input.data());
    return r.cdb[0] == opcode && (!page || r.cdb[2] == *page);
  };
  rule.reply.data = std::move(data);
  rule.reply.scsiStatus = scsiStatus;
  Device(path).rules.push_back(std::move(rule));
}

void FakeDevice::MiniportReply(const std::string& path, std::uint8_t drive,
                               const std::array<std::uint8_t, 512>& identify) {
  FakeIoRule rule;
  rule.code = kScsiMiniport;
  rule.accepts = [drive](BlockView input) {
    if (input.size() < SrbIoControl::kSize) return false;
    const auto in = SmartCommandIn::Decode(input.subspan(SrbIoControl::kSize));
    return in && in->driveNumber == drive;
  };
  rule.reply.data.assign(identify.begin(), identify.end());
  Device(path).rules.push_back(std::move(rule));
}

std::vector<FakeDevice::Call> FakeDevice::CallsOf(std::uint32_t code) const {
  std::vector<Call> out;
  for (const auto& c : calls)
    if (c.code == code) out.push_back(c);
  return out;
}

bool FakeDevice::Fail(std::uint32_t error) {
  lastError = error;
  return false;
}

Handle FakeDevice::CreateFile(const std::string& path, std::uint32_t desiredAccess, std::uint32_t, std::uint32_t,
                              std::uint32_t) {
  auto it = devices_.find(Key(path));
  bool ok = it != devices_.end();
  if (!ok) {
    lastError = kErrorFileNotFound;
  } else {
    const bool queryOnly = (desiredAccess & (kGenericRead | kGenericWrite)) == 0;
    ok = queryOnly ? it->second.opensQueryOnly : it->second.opensReadWrite;
    if (!ok) lastError = it->second.openError;
  }
  opens.push_back({path, desiredAccess, ok});
  if (!ok) return kInvalidHandle;
  const Handle h = nextHandle_++;
  handles_[h] = {Key(path), desiredAccess};
  ++openHandles;
  return h;
}

bool FakeDevice::CloseHandle(Handle h) {
  if (!handles_.erase(h)) return Fail(kErrorInvalidHandle);
  --openHandles;
  return true;
}

bool FakeDevice::DeviceIoControl(Handle h, std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize,
                                 std::uint8_t* out, std::uint32_t outSize, std::uint32_t& bytesReturned) {
  bytesReturned = 0;
  // The input may share its block with the output: keep it before anything is written.
  std::vector<std::uint8_t> input(in, in + (in ? inSize : 0));
  auto handle = handles_.find(h);
  Call call{handle == handles_.end() ? std::string() : handle->second.path, code, input, outSize, false};
  auto finish = [&](bool ok) {
    call.succeeded = ok;
    calls.push_back(call);
    return ok;
  };
  if (handle == handles_.end()) return finish(Fail(kErrorInvalidHandle));
  if ((RequiredAccess(code) & ~handle->second.access) != 0) return finish(Fail(kErrorAccessDenied));

  const FakeDeviceEntry& entry = devices_[handle->second.path];
  const FakeIoRule* rule = nullptr;
  for (const auto& r : entry.rules)
    if (r.code == code && (!r.accepts || r.accepts(input))) {
      rule = &r;
      break;
    }
  if (!rule) return finish(Fail(kErrorInvalidFunction));
  const FakeIoReply& reply = rule->reply;
  if (!reply.ok) return finish(Fail(reply.error));

  // The data of SMART and miniport replies: one sector, cut or filled with zeros.
  auto sector = [&reply] {
    std::array<std::uint8_t, SmartCommandOut::kSectorSize> data{};
    std::memcpy(data.data(), reply.data.data(), std::min(reply.data.size(), data.size()));
    return SmartCommandOut::Sector(data.data(), reply.driverError, reply.ideError).Encode();
  };
  std::vector<std::uint8_t> block;
  switch (code) {
    case kSmartRcvDriveData: {
      if (!SmartCommandIn::Decode(input)) return finish(Fail(kErrorInvalidParameter));
      block = sector();
      break;
    }
    case kScsiMiniport: {
      // The SRB_IO_CONTROL header comes back as it went, followed by the command output.
      const auto srb = SrbIoControl::Decode(input);
      if (!srb || !SmartCommandIn::Decode(BlockView(input).subspan(SrbIoControl::kSize)))
        return finish(Fail(kErrorInvalidParameter));
      block = srb->Encode();
      const auto out = sector();
      block.insert(block.end(), out.begin(), out.end());
      break;
    }
    case kScsiPassThrough: {
      PassThroughRequest req;
      if (!ReadPassThrough(input.data(), inSize, outSize, req)) return finish(Fail(kErrorInvalidParameter));
      bytesReturned = CompletePassThrough(input.data(), req, reply.scsiStatus, reply.data, reply.sense, out);
      return finish(true);
    }
    default:
      block = reply.data;
  }
  if (block.size() > outSize)
    return finish(Fail(code == kVolumeGetVolumeDiskExtents ? kErrorMoreData : kErrorInsufficientBuffer));
  if (!block.empty()) std::memcpy(out, block.data(), block.size());
  bytesReturned = static_cast<std::uint32_t>(block.size());
  return finish(true);
}

std::uint32_t FakeDevice::SetErrorMode(std::uint32_t mode) {
  const std::uint32_t previous = errorMode;
  errorMode = mode;
  errorModes.push_back(mode);
  return previous;
}

std::uint32_t FakeDevice::GetLogicalDriveStrings(std::uint32_t bufferLength, char* buffer) {
  std::string all;
  for (char letter : driveLetters) {
    all += letter;
    all += ":\\";
    all += '\0';
  }
  if (all.size() + 1 > bufferLength) return static_cast<std::uint32_t>(all.size() + 1);
  std::memcpy(buffer, all.data(), all.size());
  buffer[all.size()] = 0;
  return static_cast<std::uint32_t>(all.size());
}

std::uint32_t FakeDevice::GetDriveType(const std::string& rootPath) {
  auto it = driveTypes.find(text::AsciiUpper(rootPath));
  return it == driveTypes.end() ? kDriveNoRootDir : it->second;
}

bool FakeDevice::QueryDeviceNames(const std::string& path, DeviceNames& out) {
  out = {};
  for (const auto& [p, n] : names)
    if (Key(p) == Key(path)) {
      out = n;
      return true;
    }
  return false;
}

bool FakeDevice::GetLocalDescriptorTable(std::uint32_t& entries) {
  if (!ldt) return false;
  entries = static_cast<std::uint32_t>(ldt->size());
  return true;
}

bool FakeDevice::ReadDescriptor(std::uint32_t index, Descriptor& descriptor) {
  if (!ldt || index >= ldt->size()) return false;
  descriptor = (*ldt)[index];
  return true;
}

bool FakeDevice::WriteDescriptor(std::uint32_t index, const Descriptor& descriptor) {
  if (!ldt || index >= ldt->size()) return false;
  (*ldt)[index] = descriptor;
  return true;
}

bool FakeDevice::CallGate(std::uint16_t selector, PortTransfer& transfer) {
  ++gateCalls;
  // The processor's checks: a local-table selector naming a present 32-bit call gate that
  // ring 3 may use, leading to the port routine in the ring-0 code segment.
  const std::uint32_t index = selector >> 3;
  bool valid = ldt && (selector & 4) && index < ldt->size();
  if (valid) {
    const Descriptor& d = (*ldt)[index];
    const std::uint32_t offset = d[0] | (d[1] << 8) | (d[6] << 16) | (static_cast<std::uint32_t>(d[7]) << 24);
    const std::uint16_t target = static_cast<std::uint16_t>(d[2] | (d[3] << 8));
    valid = d[5] == 0xEC && target == 0x28 && offset == portRoutine && (selector & 3) <= 3;
  }
  if (!valid) {
    ++refusedGateCalls;
    return false;
  }
  return Transfer(transfer);
}

bool FakeDevice::PortIo(PortTransfer& transfer) {
  if (!directPorts) return Fail(kErrorNotSupported);
  return Transfer(transfer);
}

bool FakeDevice::Transfer(PortTransfer& t) {
  ++portTransfers;
  const std::uint16_t base = static_cast<std::uint16_t>(t.port & ~7u);
  const unsigned reg = t.port & 7u;
  auto channel = ataChannels.find(base);
  if (channel == ataChannels.end()) {
    if (!t.write) t.value = t.size == 1 ? 0xFF : t.size == 2 ? 0xFFFF : 0xFFFFFFFF;  // nothing on the bus
    return true;
  }
  ChannelState& st = channelState_[base];
  const std::optional<FakeAtaDrive>& drive = channel->second[(st.driveHead >> 4) & 1];
  if (t.write) {
    if (reg == 6) {
      st.driveHead = static_cast<std::uint8_t>(t.value);
    } else if (reg == 7) {
      const auto command = static_cast<std::uint8_t>(t.value);
      ataCommands.push_back({base, command});
      st.data.clear();
      st.readPos = 0;
      const bool answers = drive && ((command == 0xEC && !drive->packet) || (command == 0xA1 && drive->packet));
      if (!drive) {
        st.status = 0x00;
      } else if (answers) {
        st.data.assign(drive->identify.begin(), drive->identify.end());
        st.status = 0x58;  // DRDY, DSC, DRQ
      } else {
        st.status = 0x51;  // DRDY, DSC, ERR: command aborted
      }
    }
    return true;
  }
  if (reg == 7) {
    t.value = drive ? st.status : 0x00;
  } else if (reg == 0) {
    std::uint32_t v = 0;
    for (int i = 0; i < t.size; ++i)
      if (st.readPos < st.data.size()) v |= static_cast<std::uint32_t>(st.data[st.readPos++]) << (8 * i);
    if (st.readPos >= st.data.size() && !st.data.empty()) st.status = 0x50;
    t.value = v;
  } else {
    t.value = 0;
  }
  return true;
}

}  // namespace kyvex::platform

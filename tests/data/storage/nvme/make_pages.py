#!/usr/bin/env python3
"""Writes the NVMe pages of a Samsung PM981 512 GB laptop disk (MZVLB512HBJQ) as its
controller returns them: Identify Controller (CNS 01h), Identify Namespace (CNS 00h, namespace
1) and the SMART / Health Information log page (02h). The values are the ones nvme-cli shows
for such a disk after a few years in a laptop; the layouts are those of NVMe base revision
1.3. Run it from this folder; the tests read the .bin files."""
import struct


def text(s, width):
    return s.encode('ascii').ljust(width, b' ')


def put(page, at, fmt, *values):
    struct.pack_into('<' + fmt, page, at, *values)


ctrl = bytearray(4096)
put(ctrl, 0, 'HH', 0x144D, 0x144D)                       # PCI vendor and subsystem vendor: Samsung
ctrl[4:24] = text('S4ENNX0N123456', 20)
ctrl[24:64] = text('SAMSUNG MZVLB512HBJQ-000L7', 40)
ctrl[64:72] = text('5M2QEXF7', 8)
ctrl[72] = 2                                              # recommended arbitration burst
ctrl[73:76] = bytes([0x38, 0x25, 0x00])                   # IEEE OUI 002538
ctrl[77] = 9                                              # maximum data transfer size: 2^9 pages
put(ctrl, 78, 'H', 4)                                     # controller id
put(ctrl, 80, 'I', 0x00010300)                            # version 1.3
put(ctrl, 256, 'H', 0x0017)                               # admin commands: security, format, firmware, ns mgmt
ctrl[258] = 7                                             # abort limit
ctrl[259] = 7                                             # asynchronous event limit
ctrl[260] = 0x16                                          # firmware slots
ctrl[261] = 0x03                                          # log page attributes
ctrl[262] = 63                                            # error log entries - 1
ctrl[263] = 4                                             # power states - 1
put(ctrl, 266, 'HH', 357, 358)                            # warning and critical temperature (K)
put(ctrl, 280, 'QQ', 512110190592, 0)                     # total NVM capacity
ctrl[512] = 0x66                                          # submission queue entry sizes
ctrl[513] = 0x44                                          # completion queue entry sizes
put(ctrl, 516, 'I', 1)                                    # namespaces
put(ctrl, 520, 'H', 0x005F)                               # optional NVM commands
ctrl[525] = 0x01                                          # volatile write cache
for n, (centiwatts, entry, exit_) in enumerate([(760, 0, 0), (600, 0, 0), (510, 0, 0),
                                                (350, 210, 1200), (75, 2000, 8000)]):
    at = 2048 + 32 * n
    put(ctrl, at, 'H', centiwatts)
    if n >= 3:
        ctrl[at + 3] = 0x03                               # non-operational state
    put(ctrl, at + 4, 'II', entry, exit_)
    ctrl[at + 8:at + 12] = bytes([n, n, n, n])

ns = bytearray(4096)
blocks = 1000215216
put(ns, 0, 'QQQ', blocks, blocks, 302153728)              # size, capacity, utilisation
ns[24] = 0x00                                             # features
ns[25] = 0                                                # one LBA format
ns[26] = 0                                                # format 0 in use
ns[104:120] = bytes.fromhex('0025384b91b04d11')[::-1] + bytes(8)   # NGUID (first half)
ns[120:128] = bytes.fromhex('002538b981b04d11')          # EUI-64
put(ns, 128, 'I', 9 << 16)                                # format 0: 512-byte blocks, no metadata

log = bytearray(512)
log[0] = 0x00                                             # no critical warning
put(log, 1, 'H', 310)                                     # 37 degrees Celsius
log[3] = 100                                              # available spare
log[4] = 10                                               # its threshold
log[5] = 3                                                # percentage used
def counter(at, value):
    put(log, at, 'QQ', value & (2**64 - 1), value >> 64)
counter(32, 43879312)                                     # data units read (thousands of 512 bytes)
counter(48, 51230468)                                     # data units written
counter(64, 612390187)                                    # host read commands
counter(80, 880213455)                                    # host write commands
counter(96, 2931)                                         # controller busy minutes
counter(112, 2214)                                        # power cycles
counter(128, 5123)                                        # power-on hours
counter(144, 47)                                          # unsafe shutdowns
counter(160, 0)                                           # media and data integrity errors
counter(176, 2118)                                        # error log entries
put(log, 192, 'II', 0, 0)                                 # minutes above warning / critical
put(log, 200, 'HH', 310, 318)                             # temperature sensors 1 and 2

# The same disk worn out: spare below its threshold, reliability degraded, past its rated
# endurance, hot, with counters beyond 32 bits and media errors.
worn = bytearray(log)
worn[0] = 0x05
put(worn, 1, 'H', 352)                                    # 79 degrees Celsius
worn[3] = 4
worn[5] = 104
put(worn, 128, 'QQ', 0x100000010, 0)                      # power-on hours beyond 32 bits
put(worn, 144, 'QQ', 70000, 0)
put(worn, 160, 'QQ', 3, 0)
put(worn, 192, 'II', 1520, 12)

for name, page in (('pm981.id-ctrl.bin', ctrl), ('pm981.id-ns.bin', ns), ('pm981.smart-log.bin', log),
                   ('pm981-worn.smart-log.bin', worn)):
    with open(name, 'wb') as f:
        f.write(page)

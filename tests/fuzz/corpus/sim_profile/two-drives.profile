# Two drives on the virtual clock.
clock = virtual

[drive]
vendor = ORVA
product = KZR-3350P2
revision = 1.00
hardware_id = A1
date_code = 061201
firmware = samples/kzr.ofs
capabilities = 1, 6, 13
flash_size = 2M
latency_ms = 5
programming_ms = 0x200

[drive]
vendor = QEMU
product = QEMU DVD-ROM
revision = 2.5+
tray = open
medium = present
load_tray = fails_and_closes 02/3A/00

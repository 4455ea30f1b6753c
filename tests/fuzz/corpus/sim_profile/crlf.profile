[drive]
capabilities = none
checksum = BEEF
fail = 12
load_tray = closes

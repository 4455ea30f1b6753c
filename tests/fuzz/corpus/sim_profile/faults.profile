clock = real
[drive]
never_ready = no
never_finish = yes
unplugged = no
stay_in_boot = 3
progress_ascq = 07
finish = unit_attention
checksum = wrong
checksum_exclude = 1FD00+300 2F800+800
hardware_id_reply = yes
fail = 3B:06 at 2 times always sense 05/24/00
fail = 1e times 1 transport
fail = prevent_allow times 2 sense 02/04/01

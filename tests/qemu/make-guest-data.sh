#!/bin/sh
# make-guest-data.sh MKOFS DIR: the firmware containers the guest flashes.
set -eu

#!/usr/bin/env bash
# Package tests (x86): the demo products through msiexec.
exec bash "$(dirname "$0")/package/tier.sh" x86

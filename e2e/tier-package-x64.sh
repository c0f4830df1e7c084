#!/usr/bin/env bash
# Package tests (x64): the demo products through msiexec.
exec bash "$(dirname "$0")/package/tier.sh" x64

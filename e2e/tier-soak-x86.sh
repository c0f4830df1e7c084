#!/usr/bin/env bash
# Soak (x86): install, repair, upgrade and removal cycles, and a rollback.
exec bash "$(dirname "$0")/soak/tier.sh" x86

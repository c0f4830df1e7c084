#!/usr/bin/env bash
# The package wiring checker under Wine, both bitnesses.
exec bash "$(dirname "$0")/wirecheck/tier.sh" x64 x86

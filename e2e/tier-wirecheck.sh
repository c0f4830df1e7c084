#!/usr/bin/env bash
# The package wiring checker: the Linux build natively, the Windows builds of
# both bitnesses under Wine.
exec bash "$(dirname "$0")/wirecheck/tier.sh" x64 x86

#!/usr/bin/env bash
# The package wiring checker (x64) under Wine.
exec bash "$(dirname "$0")/wirecheck/tier.sh" x64

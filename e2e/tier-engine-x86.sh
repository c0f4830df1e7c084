#!/usr/bin/env bash
# Engine tests (x86): custom actions called with a real installer session.
exec bash "$(dirname "$0")/engine/tier.sh" x86

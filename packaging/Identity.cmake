# SPDX-License-Identifier: MIT
# The names the packages, the desktop entry, the AppStream metadata and the
# Debian changelog share (debian/control and debian/copyright say the same).
set(TQ_APP_ID tq820-scan)
# AppStream wants a reverse-DNS id without hyphens; the project's domain is
# the one its homepage and contact address use.
set(TQ_APPSTREAM_ID example.c_seed_e17cc9f1.tq820_scan)
set(TQ_CONTACT "tq820-scan maintainers <maintainers@users.noreply.c-seed-e17cc9f1.example>")

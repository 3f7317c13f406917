# The version of each deliverable, the one place it is written. CMake hands it
# to the version resources (tool/QV_InternalTool.rc, plugin/plugin.rc, through
# the generated header qv_version.h), tests/pe/pe_checks.py reads it from here
# to check the built files, and a release's BUILD.txt records it. To bump one,
# change its line and add an entry to CHANGELOG.md (docs/releasing.md,
# "Cutting a release"). Four numbers, each 0 to 65535.
set(QV_TOOL_VERSION 4.0.0.0)
set(QV_PLUGIN_VERSION 1.5.0.0)

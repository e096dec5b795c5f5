#!/usr/bin/env bash
# The plug-in exports exactly its module records, tuning globals and entry
# points, and defines none of the host's calls: those must come from the
# process that loads it, as in a real server.
set -euo pipefail
plugin=$1

defined=$(nm -D --defined-only "$plugin" | awk '{print $3}' | grep -v -E '^__(odr_asan|asan|tsan|ubsan|sanitizer)' | sort)
expected=$(sort <<'LIST'
ostrel_azure_update_token
ostrel_gridftp_server_azure_blob_module
ostrel_i_OSTREL_AZURE_debug_handle
ostrel_i_azure_base_initialize
ostrel_i_azure_base_module
ostrel_i_azure_debug_level_names
ostrel_i_azure_max_retries
ostrel_i_azure_mime_extensions
ostrel_i_azure_mime_type_file
ostrel_i_azure_retry_delay_ms
LIST
)
if [[ $defined != "$expected" ]]; then
    echo "unexpected exports:"
    diff <(echo "$expected") <(echo "$defined") || true
    exit 1
fi

undefined=$(nm -D --undefined-only "$plugin" | awk '{print $2}')
for call in ostrel_gridftp_server_finished_stat ostrel_error_put ostrel_thread_create \
    ostrel_extension_registry_add ostrel_i_gfs_dsi_registry ostrel_debug_init; do
    grep -qx "$call" <<<"$undefined" || { echo "host call $call is not left to the host"; exit 1; }
done
echo "exports: ok"

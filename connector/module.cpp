/* What the host sees: the module records, the storage interface table, and
 * the process-wide set-up and release done at activation and deactivation. */
#include "connector/ostrel_i_azure.h"

#include <pthread.h>

static ostrel_result_t ostrel_l_azure_activate(void);
static ostrel_result_t ostrel_l_azure_deactivate(void);
static ostrel_result_t ostrel_l_azure_base_activate(void);
static ostrel_result_t ostrel_l_azure_base_deactivate(void);

static const ostrel_version_t ostrel_l_azure_version = {0, 10, 0, 0};

const ostrel_module_t ostrel_gridftp_server_azure_blob_module = {
    "ostrel_gridftp_server_azure_blob", /* module name */
    ostrel_l_azure_activate,            /* activation */
    ostrel_l_azure_deactivate,          /* deactivation */
    NULL,                               /* at exit */
    NULL,                               /* get pointer */
    &ostrel_l_azure_version,            /* version */
    NULL,                               /* friendly error */
};

/* The source module of every error the error conversion builds. */
const ostrel_module_t ostrel_i_azure_base_module = {
    "ostrel_gridftp_server_azure_blob_base", /* module name */
    ostrel_l_azure_base_activate,            /* activation */
    ostrel_l_azure_base_deactivate,          /* deactivation */
    NULL,                                    /* at exit */
    NULL,                                    /* get pointer */
    NULL,                                    /* version */
    NULL,                                    /* friendly error */
};

static ostrel_gfs_storage_iface_t ostrel_l_azure_dsi_iface = {
    OSTREL_GFS_DSI_DESCRIPTOR_BLOCKING | OSTREL_GFS_DSI_DESCRIPTOR_SENDER |
        OSTREL_GFS_DSI_DESCRIPTOR_REQUIRES_ORDERED_DATA, /* descriptor 0xb */
    ostrel_i_azure_start,                                /* session start */
    ostrel_i_azure_destroy,                              /* session end */
    NULL,                                                /* list: served by stat */
    ostrel_i_azure_send,                                 /* send */
    ostrel_i_azure_recv,                                 /* recv */
    NULL,                                                /* trev */
    NULL,                                                /* active */
    NULL,                                                /* passive */
    NULL,                                                /* data destroy */
    ostrel_i_azure_command,                              /* command */
    ostrel_i_azure_stat,                                 /* stat */
    NULL,                                                /* set cred */
    NULL,                                                /* buffer send */
    NULL,                                                /* realpath */
};

static const char ostrel_l_azure_dsi_name[] = "azure_blob";

/* Two loads of the library in one process share one registration; the
 * state is released when the last of them is deactivated. */
static pthread_mutex_t ostrel_l_azure_activation_lock = PTHREAD_MUTEX_INITIALIZER;
static int ostrel_l_azure_activations;

static ostrel_result_t ostrel_l_azure_base_activate(void)
{
    ostrel_debug_init("OSTREL_AZURE_DEBUG", "TRACE INFO DEBUG WARNING ERROR",
                      &ostrel_i_OSTREL_AZURE_debug_handle);
    ostrel_i_azure_trace_enter();

    const char *path = ostrel_i_azure_mime_type_file;
    ostrel_result_t result = ostrel_i_azure_mime_types_parse(path);
    if (result != OSTREL_SUCCESS) {
        ostrel_gfs_log_message(OSTREL_GFS_LOG_ERR,
                               "There was an error parsing the mime.types file %s.",
                               path != NULL ? path : "(none)");
        /* The parse reports a bare -1; give the host a message it can show. */
        if (ostrel_error_peek(result) == NULL)
            result = ostrel_error_put(ostrel_error_construct_error(
                NULL, NULL, OSTREL_ERROR_TYPE_PLUGIN, "module", "ostrel_l_azure_base_activate",
                __LINE__, "There was an error parsing the mime.types file %s.",
                path != NULL ? path : "(none)"));
        ostrel_i_azure_trace_result(result);
        return result;
    }

    ostrel_i_az_checksum_cache_init();
    ostrel_i_azure_trace_result(OSTREL_SUCCESS);
    return OSTREL_SUCCESS;
}

/* Every step tolerates running twice: the host may deactivate both records. */
static ostrel_result_t ostrel_l_azure_base_deactivate(void)
{
    ostrel_i_azure_mime_types_destroy();
    ostrel_i_az_checksum_cache_destroy();
    ostrel_debug_handle_t *debug = &ostrel_i_OSTREL_AZURE_debug_handle;
    if (debug->using_file && debug->file != NULL)
        fclose(debug->file);
    debug->file = NULL;
    debug->using_file = false;
    return OSTREL_SUCCESS;
}

static ostrel_result_t ostrel_l_azure_activate(void)
{
    pthread_mutex_lock(&ostrel_l_azure_activation_lock);
    if (ostrel_l_azure_activations > 0) {
        ostrel_l_azure_activations++;
        pthread_mutex_unlock(&ostrel_l_azure_activation_lock);
        return OSTREL_SUCCESS;
    }

    ostrel_result_t result = ostrel_l_azure_base_activate();
    if (result != OSTREL_SUCCESS) {
        ostrel_i_azure_trace_result(result);
        goto done;
    }
    if (ostrel_extension_registry_add(&ostrel_i_gfs_dsi_registry, (void *)ostrel_l_azure_dsi_name,
                                      &ostrel_gridftp_server_azure_blob_module,
                                      &ostrel_l_azure_dsi_iface) != 0) {
        result = ostrel_error_put(ostrel_error_construct_error(
            NULL, NULL, OSTREL_ERROR_TYPE_PLUGIN, "module", "ostrel_l_azure_activate", __LINE__,
            "the storage interface \"%s\" is already registered", ostrel_l_azure_dsi_name));
        ostrel_i_azure_trace_result(result);
        ostrel_l_azure_base_deactivate();
        goto done;
    }
    ostrel_l_azure_activations = 1;
    ostrel_i_azure_trace_result(OSTREL_SUCCESS);

done:
    pthread_mutex_unlock(&ostrel_l_azure_activation_lock);
    return result;
}

static ostrel_result_t ostrel_l_azure_deactivate(void)
{
    pthread_mutex_lock(&ostrel_l_azure_activation_lock);
    if (ostrel_l_azure_activations > 1) {
        ostrel_l_azure_activations--;
    } else {
        ostrel_l_azure_activations = 0;
        ostrel_extension_registry_remove(&ostrel_i_gfs_dsi_registry,
                                         (void *)ostrel_l_azure_dsi_name);
        ostrel_l_azure_base_deactivate();
    }
    pthread_mutex_unlock(&ostrel_l_azure_activation_lock);
    return OSTREL_SUCCESS;
}

ostrel_result_t ostrel_i_azure_base_initialize(void)
{
    ostrel_i_azure_trace_enter();

    AZ_status status = AZ_initialize();
    if (status != AZ_OK) {
        ostrel_result_t result =
            ostrel_error_put(ostrel_i_AzureError_to_error(status, "initialization", NULL));
        if (result == OSTREL_SUCCESS)
            result = OSTREL_FAILURE;
        ostrel_i_azure_log(OSTREL_AZURE_DEBUG_ERROR, "AZ_initialize returns: %d\n", (int)status);
        ostrel_i_azure_trace_result(result);
        return result;
    }
    ostrel_i_azure_trace_result(OSTREL_SUCCESS);
    return OSTREL_SUCCESS;
}

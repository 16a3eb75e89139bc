/* A C client made with gdbus-codegen from the type library alone: posts a listing with Field and
 * Action, another with Listing.Post, writes log records with three arguments, then releases its object.
 * Prints each result code on a line of its own; exits 1 on any error, naming it. */

#include "orvexproxy.h"

#include <stdio.h>

#define SERVICE "OrvexKelPostJob.PostJob"
#define FACTORY_PATH "/OrvexKelPostJob/PostJob"
#define PROXY_FLAGS G_DBUS_PROXY_FLAGS_DO_NOT_LOAD_PROPERTIES
/* Action waits for the board, and the server sets no time limit of its own. */
#define CALL_TIMEOUT_MS (10 * 60 * 1000)

static int fail(const char *step, GError *error) {
    fprintf(stderr, "gdbus_client: %s: %s\n", step, error ? error->message : "failed");
    g_clear_error(&error);
    return 1;
}

/* A tagged value, as the type library defines it for AnyOther. */
static GVariant *tagged(const char *tag, GVariant *value) {
    return g_variant_new_variant(g_variant_new("(sv)", tag, value));
}

static int post_with_field_and_action(Orvex_PostJob *job) {
    GError *error = NULL;
    g_autofree gchar *empty = NULL;
    g_autofree gchar *title = NULL;
    g_autofree gchar *result = NULL;
    if (!orvex__post_job_call_field_sync(job, "JobCode", "C-1", G_DBUS_CALL_FLAGS_NONE, -1, &empty, NULL,
                                         &error) ||
        !orvex__post_job_call_field_sync(job, "Title", "C <developer>", G_DBUS_CALL_FLAGS_NONE, -1, &title,
                                         NULL, &error))
        return fail("Field", error);
    if (!orvex__post_job_call_action_sync(job, "Add", G_DBUS_CALL_FLAGS_NONE, CALL_TIMEOUT_MS, &result, NULL,
                                          &error))
        return fail("Action", error);
    printf("%s\n", result);
    return 0;
}

static int post_in_one_call(const char *path) {
    GError *error = NULL;
    OrvexListing *listing =
        orvex_listing_proxy_new_for_bus_sync(G_BUS_TYPE_SESSION, PROXY_FLAGS, SERVICE, path, NULL, &error);
    if (!listing)
        return fail("Listing proxy", error);
    GVariantBuilder fields;
    g_variant_builder_init(&fields, G_VARIANT_TYPE("a(ss)"));
    g_variant_builder_add(&fields, "(ss)", "JobCode", "C-2");
    g_variant_builder_add(&fields, "(ss)", "Location", "Remote");
    g_autofree gchar *result = NULL;
    const gboolean posted =
        orvex_listing_call_post_sync(listing, "Add", g_variant_builder_end(&fields), G_DBUS_CALL_FLAGS_NONE,
                                     CALL_TIMEOUT_MS, &result, NULL, &error);
    g_object_unref(listing);
    if (!posted)
        return fail("Listing.Post", error);
    printf("%s\n", result);
    return 0;
}

static int write_log_records(Orvex_PostJob *job) {
    GVariant *const anyOthers[] = {
        g_variant_new_variant(g_variant_new_string("text")),
        g_variant_new_variant(g_variant_new_int32(42)),
        g_variant_new_variant(g_variant_new_double(1.5)),
        tagged("currency", g_variant_new_int64(125000)),
        tagged("date", g_variant_new_string("2010-01-19T15:07:45")),
    };
    for (size_t i = 0; i < G_N_ELEMENTS(anyOthers); ++i) {
        GError *error = NULL;
        if (!orvex__post_job_call_write_log_sync(job, "gdbus_client", "AnyOther", anyOthers[i],
                                                 G_DBUS_CALL_FLAGS_NONE, -1, NULL, &error))
            return fail("WriteLog", error);
    }
    return 0;
}

static int use_object(const char *path) {
    GError *error = NULL;
    Orvex_PostJob *job =
        orvex__post_job_proxy_new_for_bus_sync(G_BUS_TYPE_SESSION, PROXY_FLAGS, SERVICE, path, NULL, &error);
    if (!job)
        return fail("PostJob proxy", error);
    int status = post_with_field_and_action(job);
    if (status == 0)
        status = post_in_one_call(path);
    if (status == 0)
        status = write_log_records(job);
    g_object_unref(job);
    return status;
}

static int release(const char *path) {
    GError *error = NULL;
    OrvexIUnknown *unknown =
        orvex_iunknown_proxy_new_for_bus_sync(G_BUS_TYPE_SESSION, PROXY_FLAGS, SERVICE, path, NULL, &error);
    if (!unknown)
        return fail("IUnknown proxy", error);
    const gboolean released =
        orvex_iunknown_call_release_sync(unknown, G_DBUS_CALL_FLAGS_NONE, -1, NULL, &error);
    g_object_unref(unknown);
    return released ? 0 : fail("Release", error);
}

int main(void) {
    GError *error = NULL;
    OrvexClassFactory *factory = orvex_class_factory_proxy_new_for_bus_sync(
        G_BUS_TYPE_SESSION, PROXY_FLAGS, SERVICE, FACTORY_PATH, NULL, &error);
    if (!factory)
        return fail("ClassFactory proxy", error);
    g_autofree gchar *path = NULL;
    const gboolean created = orvex_class_factory_call_create_instance_sync(factory, G_DBUS_CALL_FLAGS_NONE,
                                                                           -1, &path, NULL, &error);
    g_object_unref(factory);
    if (!created)
        return fail("CreateInstance", error);

    const int status = use_object(path);
    /* Releasing any object ends the server with every object in it. */
    const int released = release(path);
    return status != 0 ? status : released;
}

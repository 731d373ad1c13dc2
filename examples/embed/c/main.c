/* An example host in C: one host object, one host statement, an error with its place, and a
 * limit, through the C interface. Usage: invoice_host_c SCRIPTDIR (the folder of invoice.ztscr). */
#include <ztscript_c.h>

#include <stdio.h>

/* The host statement vat(amount): the amount with 20 % VAT. */
static int vat(void* user, const ztscript_value* const* args, size_t count, ztscript_value* result) {
    double amount = 0;
    (void)user;
    (void)count;
    if (!ztscript_value_to_double(args[0], &amount)) {
        ztscript_value_set_text(result, "amount is no number");
        return 1;
    }
    if (amount < 0) {
        ztscript_value_set_text(result, "negative amount");
        return 1;
    }
    ztscript_value_set_double(result, amount * 1.2);
    return 0;
}

/* Runs one function of invoice.ztscr; prints a failure as "error: FILE:LINE:COLUMN: cause". */
static int run(ztscript_context* ctx, const char* function, const ztscript_value* arg) {
    char call[64];
    snprintf(call, sizeof call, "script$invoice$%s", function);
    if (ztscript_call(ctx, call, &arg, arg ? 1 : 0) == ZTSCRIPT_OK) return 1;
    printf("error: ");
    if (ztscript_error_file(ctx))
        printf("%s:%u:%u: ", ztscript_error_file(ctx), (unsigned)ztscript_error_line(ctx),
               (unsigned)ztscript_error_column(ctx));
    printf("%s\n", ztscript_error_message(ctx, ztscript_error_count(ctx) - 1));
    return 0;
}

int main(int argc, char** argv) {
    ztscript_context* ctx;
    ztscript_object* inv;
    ztscript_value* v;
    const char* id;
    size_t i;
    if (argc != 2) {
        fprintf(stderr, "usage: invoice_host_c SCRIPTDIR\n");
        return 2;
    }
    ztscript_register_statement("vat", 1, 1, vat, NULL);
    ctx = ztscript_context_new(argv[1]);

    /* The host object: an invoice with two fields. */
    inv = ztscript_object_new(NULL, NULL);
    v = ztscript_value_new();
    ztscript_value_set_double(v, 1200);
    ztscript_object_set_field(inv, "amount", v);
    ztscript_value_set_text(v, "ACME");
    ztscript_object_set_field(inv, "customer", v);
    ztscript_value_set_object(v, inv);

    if (!run(ctx, "check", v)) return 1;
    printf("total: %s\nlabel: %s\n", ztscript_value_text(ztscript_result(ctx)), ztscript_object_label(inv, "total"));
    for (i = 0; i < ztscript_object_message_count(inv); ++i) {
        const char* text = ztscript_object_message(inv, i, &id, NULL);
        printf("message %s: %s\n", id, text);
    }

    run(ctx, "broken", v);

    ztscript_set_max_steps(ctx, 10000);
    run(ctx, "forever", NULL);

    ztscript_value_free(v);
    ztscript_object_free(inv);
    ztscript_context_free(ctx);
    return 0;
}

# The hardening that Debian builds its packages with (dpkg-buildflags) and lintian looks for:
# a canary in every function with a local array, checked variants of the libc functions whose
# buffer sizes the compiler knows, and relocations made read-only once the program has loaded.
add_compile_options(-fstack-protector-strong)
# _FORTIFY_SOURCE needs the optimiser (glibc warns without it, and warnings are errors).
add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
add_link_options(LINKER:-z,relro LINKER:-z,now)

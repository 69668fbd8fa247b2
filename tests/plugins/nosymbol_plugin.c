/* A shared object in the plug-in folder that is not a plug-in: it lacks the registration. */
int some_other_export(void) {
    return 1;
}

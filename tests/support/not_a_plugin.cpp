// A loadable module without vtn_main: the host must refuse it cleanly.
extern "C" int some_other_entry(int action) { return action; }

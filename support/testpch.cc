// Empty on purpose: the object library built from it carries the test
// targets' precompiled header (see qztestpch in the top CMakeLists.txt).

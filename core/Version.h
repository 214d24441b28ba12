// The program's version as every program of the project prints it for --version: the release
// number and the commit it was built from ("1.0.0 (commit 0123abcd4567)").
#pragma once

const char* programVersion();

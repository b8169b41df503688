#pragma once

// True when standard error is a terminal (a console on Windows).
bool stderrIsTerminal();

#pragma once
// Not built yet.

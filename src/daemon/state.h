// One reset of the whole daemon's process-wide state.
#pragma once

// Puts every subsystem's state back to what it is before start-up, in
// dependency order: the WTPs go before the tables and the hash pool they
// use, the relay before the handler tables. The database connection and the
// framework context are left alone (capwap_stop closes them). Called by
// capwap_stop, test fixtures and fuzz targets.
void capwap_reset_state();

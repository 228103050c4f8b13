// Durable outputs and crashes.
